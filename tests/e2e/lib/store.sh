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
