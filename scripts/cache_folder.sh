# Sourced by the scripts that build something once into a cache folder and
# reuse it (Qt for Windows, the real-PPP lab's guest).
#
# cached_or_lock FOLDER LOCK: when FOLDER is complete (FOLDER/ready), prints
# it and ends the script with status 0. Otherwise it takes LOCK, waiting for
# whoever holds it (one build at a time), and looks again: a build that ended
# while this one waited has made FOLDER, which is then printed as well. When
# it returns, the caller holds the lock (file descriptor 9) and builds.
cached_or_lock() {
    local folder=$1 lock=$2
    if [ -f "$folder/ready" ]; then
        echo "$folder"
        exit 0
    fi
    mkdir -p "$(dirname "$lock")" || { echo "cannot create $(dirname "$lock")" >&2; exit 1; }
    exec 9>"$lock"
    flock 9
    if [ -f "$folder/ready" ]; then
        echo "$folder"
        exit 0
    fi
}
