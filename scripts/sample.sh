#!/bin/bash
# Sets up what is missing, builds, and runs kestrun.exe under Wine on a
# sample installation made fresh in sample/, then shows what it did: its
# log, the files before and after, and what the stand-in updater received.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
echo "Building..."
"$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine-env.sh"
kestrun_wine_ready
bin="$root/build/bin"
sample="$root/sample"
app="$sample/installation"
jvm="$sample/JVM"

rm -rf "$sample"
mkdir -p "$app" "$jvm/jre-17/jdk/bin" "$jvm/jre-17/jdk.new/bin" "$jvm/jre-17/jdk8.old/bin" \
  "$sample/jdk/bin"

# The starter and a stand-in for the updater that records what it received.
cp "$bin/kestrun.exe" "$app/"
cp "$bin/updater_stub.exe" "$app/Updater_Client.exe"
echo "updater jar, old" >"$app/Updater_Client.jar"
echo "updater jar, new" >"$app/Updater_Client_2.jar"
echo "#!/bin/sh" >"$app/Updater_Client.sh"
touch -d '2026-01-01 10:00' "$app/Updater_Client.jar"
touch -d '2026-02-01 10:00' "$app/Updater_Client_2.jar"
# Renames an earlier update left pending.
echo "core, old" >"$app/core.jar"
echo "core, new" >"$app/core.rename-to-jar"
echo "native, old" >"$app/native.dll"
echo "native, new" >"$app/native.new.dll"
# Files of the old updater, removed on --clearOldUpdater.
echo "old" >"$app/Updater.lock"
echo "old" >"$app/Temp.jar"
# Java runtimes beside the installation: a new one to take its place, an old one to go.
echo "runtime 17.0.1" >"$jvm/jre-17/jdk/release"
echo "runtime 17.0.9" >"$jvm/jre-17/jdk.new/release"
echo "runtime 8" >"$jvm/jre-17/jdk8.old/release"
# A stray JDK in Path that the updater must not see.
echo "not really java" >"$sample/jdk/bin/java.exe"

# Every file of the sample; small text files with what they hold.
show_tree() {
  (cd "$sample" && find . -path ./installation/log -prune -o -type f -print | sort |
    while read -r file; do
      case "$file" in
        *.record.txt | *.starts.txt | *.lock) ;;
        *.exe) printf '   %s\n' "${file#./}" ;;
        *) printf '   %-44s "%s"\n' "${file#./}" "$(head -c 40 "$file" | tr -d '\r\n')" ;;
      esac
    done)
}

echo
echo "== The sample installation (sample/) before the run"
show_tree
export WINEPATH="$(winepath -w "$sample/jdk/bin" 2>/dev/null)"
echo
echo "== kestrun.exe --clearOldUpdater -update \"my app\"   (in sample/installation, Path begins with $WINEPATH)"
set +e
(cd "$app" && wine kestrun.exe --clearOldUpdater -update "my app" </dev/null >/dev/null 2>&1)
status=$?
set -e
echo "exit code: $status"
for _ in $(seq 50); do [ -f "$app/Updater_Client.exe.record.txt" ] && break; sleep 0.1; done
echo
echo "== log/starter.log"
tr -d '\r' <"$app/log/starter.log"
echo
echo "== The files after the run"
show_tree
echo
echo "== What the stand-in Updater_Client.exe received"
if [ -f "$app/Updater_Client.exe.record.txt" ]; then
  tr -d '\r' <"$app/Updater_Client.exe.record.txt" | sed 's/^/   /'
else
  echo "   (it was not started)"
fi
wineserver -k 2>/dev/null || true
