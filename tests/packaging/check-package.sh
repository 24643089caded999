#!/usr/bin/env bash
# Builds the Debian package and checks it the way Debian would: lintian,
# its fields and files, its maintainer scripts with and without a running
# udev, and a dpkg install and purge on this system.
# The last two need root (and namespaces); without them, or when this
# system already has tavoro-updater installed, the test ends as skipped
# (77) after the rest.
set -euo pipefail
source="$1"
build="$2"
work="$(mktemp -d)"
installed_here=false
cleanup() {
    if $installed_here; then dpkg --purge tavoro-updater >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*"; exit 1; }

(cd "$work" && cpack -G DEB -B "$work/deb" --config "$build/CPackConfig.cmake" >/dev/null)
package="$(ls "$work"/deb/*.deb)"

# Any error or warning fails; informational tags do not.
lintian_output="$(lintian --fail-on error,warning "$package" 2>&1)" \
    || fail "lintian rejects the package:"$'\n'"$lintian_output"

contents="$(dpkg-deb -c "$package")"
for file in ./usr/bin/tavoro-updater ./usr/share/applications/tavoro-updater.desktop \
            ./usr/bin/tavoro-flash ./usr/libexec/tavoro-updater/tavoro-flash \
            ./usr/lib/udev/rules.d/70-tavoro-updater.rules \
            ./usr/share/man/man1/tavoro-updater.1.gz ./usr/share/man/man1/tavoro-flash.1.gz \
            ./usr/share/doc/tavoro-updater/changelog.gz ./usr/share/doc/tavoro-updater/copyright; do
    grep -q " $file\$" <<<"$contents" || fail "package lacks $file"
done
dpkg-deb -f "$package" Depends | grep -q libhidapi || fail "package does not depend on hidapi"
# The extended description as written, not escaped or reflowed by CPack.
dpkg-deb -f "$package" Description | tail -n +2 | sed 's/^ //; s/^\.$//' \
    | diff - "$source/packaging/debian/description" || fail "description differs from packaging/debian/description"
dpkg-deb -x "$package" "$work/root"
changelog_version="$(zcat "$work/root/usr/share/doc/tavoro-updater/changelog.gz" \
                     | dpkg-parsechangelog -l - -S Version)"
[ "$changelog_version" = "$(dpkg-deb -f "$package" Version)" ] \
    || fail "the changelog's latest entry is $changelog_version, not the package's version"

unshare --mount --pid --fork --mount-proc true 2>/dev/null \
    || { echo "skipped: the maintainer scripts and dpkg need root and namespaces"; exit 77; }

# The maintainer scripts run in a mount and PID namespace of their own, so
# that a fresh /run, with or without udev's directory, hides this system's,
# and they are their namespace's PID 1's root (not a chroot). udevadm is a
# stub that records its arguments and exits with the status given.
dpkg-deb -e "$package" "$work/control"
mkdir "$work/stub"
cat >"$work/stub/udevadm" <<'STUB'
#!/bin/sh
echo "$*" >>"$UDEVADM_CALLS"
exit "$UDEVADM_STATUS"
STUB
chmod +x "$work/stub/udevadm"
reload="control --reload"
trigger="trigger --subsystem-match=hidraw --action=change"
#      script    argument       udev  udevadm status  udevadm calls expected
cases=("postinst configure      yes   0               $reload;$trigger"
       "postrm   remove         yes   0               $reload;$trigger"
       "postinst configure      yes   1               $reload;$trigger"
       "postinst configure      no    0               "
       "postrm   remove         no    0               "
       "postrm   purge          yes   0               "
       "postinst abort-upgrade  yes   0               ")
for case in "${cases[@]}"; do
    read -r script argument udev status expected <<<"$case"
    calls="$work/calls"
    : >"$calls"
    UDEVADM_CALLS="$calls" UDEVADM_STATUS="$status" PATH="$work/stub:$PATH" \
        unshare --mount --pid --fork --mount-proc sh -c '
            mount -t tmpfs tmpfs /run
            [ "$1" = no ] || mkdir /run/udev
            exec "$2" "$3"' - "$udev" "$work/control/$script" "$argument" \
        || fail "$script $argument (udev: $udev, udevadm status $status) failed"
    [ "$(paste -sd';' "$calls")" = "$expected" ] \
        || fail "$script $argument (udev: $udev): udevadm got '$(paste -sd';' "$calls")', expected '$expected'"
done

# Installing needs neither a running udev nor udevadm, and purging leaves
# none of the package's files. The lock keeps two test runs on this
# system apart.
exec 9>/run/lock/tavoro-updater-package-test
flock 9
if dpkg-query -W -f='${Status}' tavoro-updater 2>/dev/null | grep -q installed; then
    echo "skipped dpkg -i: this system has tavoro-updater installed already"
    exit 77
fi
# dpkg refuses to run while another package manager works: wait for it.
dpkg_waiting() {
    local output
    for _ in $(seq 1 60); do
        output="$(dpkg "$@" 2>&1)" && return 0
        grep -q 'lock' <<<"$output" || break
        sleep 2
    done
    echo "$output"
    return 1
}
installed_here=true
dpkg_waiting -i "$package" || fail "dpkg -i failed"
dpkg-query -W -f='${Status}' tavoro-updater | grep -q '^install ok installed$' \
    || fail "the package is not fully installed"
[ -e /usr/lib/udev/rules.d/70-tavoro-updater.rules ] || fail "the udev rule was not installed"
dpkg_waiting --purge tavoro-updater || fail "dpkg --purge failed"
installed_here=false
while read -r path; do
    [ -d "/$path" ] || [ ! -e "/$path" ] || fail "purging left /$path"
done < <(dpkg-deb -c "$package" | awk '{ print $6 }')
echo "Debian package, lintian, maintainer scripts and dpkg round trip checked"
