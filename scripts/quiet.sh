# Sourced by the set-up scripts: a phase prints one line and keeps its full output in a log under
# build/; when it fails, the end of that log is shown.

# show_tail LOG [LINES]: the last lines of LOG, between rules that say where the rest is.
show_tail() {
    echo "---- the last ${2:-40} lines of $1 ----"
    tail -n "${2:-40}" "$1"
    echo "---- end of $1 ----"
}

# phase TEXT LOG COMMAND...: prints "TEXT (log: LOG)… ", runs COMMAND with all its output in LOG
# (started anew) and ends the line with "done" or "failed" and the end of LOG. Answers COMMAND's
# status. COMMAND runs where errexit does not apply: chain its steps with &&.
phase() {
    local text=$1 log=$2 start=$SECONDS status
    shift 2
    mkdir -p "$(dirname "$log")"
    printf '%s (log: %s)… ' "$text" "$log"
    if "$@" >"$log" 2>&1; then
        echo "done ($((SECONDS - start)) s)"
        return 0
    else
        status=$?
    fi
    echo "failed (exit status $status)"
    show_tail "$log"
    return "$status"
}
