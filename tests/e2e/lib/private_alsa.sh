# Shared by the end-to-end tests: an ALSA configuration of the test's own.
#
# ALSA reads the system's configuration first, and on a desktop that loads
# the PipeWire, PulseAudio and JACK plug-ins from /etc/alsa/conf.d; probing
# those prints warnings and can pick another default device. The test's copy
# of the system's top-level file leaves out that pre-load step (and
# ~/.asoundrc), then adds the test's own definitions.

# private_alsa FILE DEFINITIONS: writes FILE and points ALSA_CONFIG_PATH at it.
private_alsa() {
    local file=$1 definitions=$2
    awk 'skip == 0 && /^@hooks \[/ { skip = 1; next }
         skip == 1 { if (/^\]/) skip = 2; next }
         { print }' /usr/share/alsa/alsa.conf >"$file"
    printf '%s\n' "$definitions" >>"$file"
    export ALSA_CONFIG_PATH=$file
}
