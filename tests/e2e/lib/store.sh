# Shared by the end-to-end tests: prepares the settings store the program
# will open, as a user's earlier sessions would have left it.

# The store's file: SKARNEL_STORE when set, else the default under $HOME.
store_path() {
    echo "${SKARNEL_STORE:-$HOME/.config/Orvane/Skarnel.db}"
}

# Leaves the store as after a start at which the welcome question was
# answered with "Don't show this message again." ticked, so the program
# starts straight into its window. Further "name|kind|value" arguments add
# values (kind 0 text, 1 integer).
seed_store() {
    local db key="\\Software\\Orvane\\Skarnel" entry name kind value
    db=$(store_path)
    mkdir -p "$(dirname "$db")"
    rm -f "$db"
    {
        cat <<'SQL'
PRAGMA user_version = 1;
CREATE TABLE keys(path TEXT NOT NULL COLLATE NOCASE PRIMARY KEY) WITHOUT ROWID;
CREATE TABLE key_values(key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE, kind INTEGER NOT NULL, text_value TEXT, int_value INTEGER, PRIMARY KEY(key, name), CHECK((kind = 0 AND typeof(text_value) = 'text' AND int_value IS NULL) OR (kind = 1 AND typeof(int_value) = 'integer' AND int_value BETWEEN -2147483648 AND 2147483647 AND text_value IS NULL))) WITHOUT ROWID;
SQL
        echo "INSERT INTO keys VALUES('$key');"
        echo "INSERT INTO key_values VALUES('$key','Welcome',1,NULL,1);"
        for entry in "$@"; do
            IFS='|' read -r name kind value <<<"$entry"
            if [[ $kind == 0 ]]; then
                echo "INSERT INTO key_values VALUES('$key','$name',0,'$value',NULL);"
            else
                echo "INSERT INTO key_values VALUES('$key','$name',1,NULL,$value);"
            fi
        done
    } | sqlite3 "$db"
}

# Prints the store's values, one "name|text|integer" line each, sorted.
dump_store() {
    sqlite3 "$(store_path)" "SELECT name, text_value, int_value FROM key_values ORDER BY name"
}

# Prints, as seed_store entries, every value the generator window stores, at
# the values a reset window shows; NAME=VALUE arguments replace single values
# (the kind stays). A store with all of them makes the window start with
# exactly these settings instead of resetting.
window_values() {
    local -A kind=() value=()
    local -a order=()
    local entry name
    add() { order+=("$1"); kind[$1]=$2; value[$1]=$3; }
    add mono 1 1
    add AsLeft 1 0
    add Duration 0 10
    add Loop 1 1
    add WaveDevice 1 0
    add PresetAutoStart 1 0
    add FormX 1 0
    add FormY 1 0
    for side in Left Right; do
        local s=${side:0:1}
        add "${side}Tick" 1 1
        add "WaveForm$side" 1 1
        add "PeakRms$s" 1 4
        add "Amplitude$side" 0 0
        add "cboFilterType${s}1" 1 0
        add "txtFZero$s" 0 1000
        add "txtGain$s" 0 0
        add "txtQ$s" 0 1
        add "ModulationOn$side" 1 0
        add "ModFunction$side" 1 0
        add "ModPeriod${side}Edit" 0 1
        add "ModDepth${side}Edit" 0 100
        add "ModPhase${side}Edit" 0 0
    done
    unset -f add
    for entry in "$@"; do
        name=${entry%%=*}
        [[ -n ${kind[$name]+set} ]] || { echo "window_values: no stored value '$name'" >&2; return 1; }
        value[$name]=${entry#*=}
    done
    for name in "${order[@]}"; do
        echo "$name|${kind[$name]}|${value[$name]}"
    done
}
