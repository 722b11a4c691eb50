#!/bin/sh
# The Debian package as a user gets it: built by cpack from this build tree,
# unpacked into a scratch root with dpkg -x, and its programs run from there.
# Also checks the programs' hardening, the package with lintian, the desktop
# entry with desktop-file-validate and the AppStream metainfo with
# appstreamcli where they are installed, and that the manual page and the
# bash completion know every option that veld-cli's help lists.
#
#   package_test.sh BUILD_DIR CPACK
# Exit status 77: skipped (no dpkg-deb).
set -eu
build=$1
cpack=$2
if ! command -v dpkg-deb >/dev/null || ! command -v dpkg >/dev/null; then
    echo "dpkg-deb is not installed: skipped"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
contains() {  # contains TEXT WORD: WORD occurs in TEXT
    case $1 in *"$2"*) return 0 ;; *) return 1 ;; esac
}

# The package, named by the version the programs report.
version=$("$build/veld-cli" --version | sed -n 's/^veld-cli V//p')
[ -n "$version" ] || fail "veld-cli --version gives no version"
(cd "$build" && "$cpack" -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    fail "cpack -G DEB failed"
}
deb=$work/out/veld_${version}_amd64.deb
[ -f "$deb" ] || fail "no veld_${version}_amd64.deb: $(ls "$work/out")"

# Dependencies computed from the programs' libraries, and the plugins and
# services no library names.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libjpeg62-turbo libssl3 qt6-qpa-plugins; do
    contains "$depends" "$needed" || fail "Depends lacks $needed: $depends"
done
contains "$(dpkg-deb -f "$deb" Recommends)" udisks2 || fail "udisks2 is not recommended"

# Installed into a scratch root: every file in its place, nothing outside /usr.
root=$work/root
dpkg -x "$deb" "$root"
echo "== files of $(basename "$deb")"
(cd "$root" && find . -type f | sort)
for file in usr/bin/veld usr/bin/veld-cli \
    usr/share/applications/veld.desktop usr/share/icons/hicolor/scalable/apps/veld.svg \
    usr/share/veld/doc/VELD.HTM usr/share/veld/doc/main-window.png usr/share/veld/demo-card.img \
    usr/share/metainfo/org.example.veld.metainfo.xml \
    usr/share/man/man1/veld.1.gz usr/share/man/man1/veld-cli.1.gz \
    usr/share/bash-completion/completions/veld-cli \
    usr/share/doc/veld/copyright usr/share/doc/veld/changelog.gz; do
    [ -f "$root/$file" ] || fail "the package lacks /$file"
done
[ "$(ls "$root")" = usr ] || fail "the package installs outside /usr: $(ls "$root")"

# The installed programs run from there; the stripped veld-cli finds on the
# demo card exactly what the build's finds.
[ "$("$root/usr/bin/veld-cli" --version)" = "veld-cli V$version" ] || fail "installed veld-cli --version"
[ "$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/veld" --version)" = "Veld V$version" ] || fail "installed veld --version"
card=$root/usr/share/veld/demo-card.img
"$root/usr/bin/veld-cli" search --json --threads 0 "$card" >"$work/installed.json" 2>/dev/null ||
    fail "installed veld-cli search of the demo card"
"$build/veld-cli" search --json --threads 0 "$card" >"$work/built.json" 2>/dev/null
[ -s "$work/installed.json" ] || fail "the installed veld-cli finds nothing on the demo card"
cmp -s "$work/installed.json" "$work/built.json" || fail "installed and built veld-cli find different files"

# Every command's page; every option it lists is in the manual page and
# offered by the bash completion, and nothing more is offered.
if command -v man >/dev/null; then
    for page in veld veld-cli; do
        warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
            "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$page.1: $warnings"
    done
    manual=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/veld-cli.1.gz" 2>/dev/null | col -b)
fi
commands=$("$root/usr/bin/veld-cli" --help | sed -n 's/^  veld-cli \([a-z][a-z-]*\).*/\1/p' | sort -u)
[ -n "$commands" ] || fail "veld-cli --help lists no commands"
for command in $commands; do
    "$root/usr/bin/veld-cli" help "$command" >"$work/help" || fail "veld-cli help $command"
    [ "$("$root/usr/bin/veld-cli" "$command" --help)" = "$(cat "$work/help")" ] || fail "$command --help differs"
    options=$(grep -o -- '--[a-z-]*' "$work/help" | sort -u | tr '\n' ' ')
    if [ -n "${manual:-}" ]; then
        contains "$manual" "veld-cli $command" || contains "$manual" "$command [" || fail "veld-cli.1 lacks $command"
        for option in $options; do
            contains "$manual" "$option" || fail "veld-cli.1 lacks $command $option"
        done
    fi
    offered=$(bash -c '. "$1"; COMP_WORDS=(veld-cli "$2" --); COMP_CWORD=2; _veld_cli
                       printf "%s\n" "${COMPREPLY[@]}"' sh "$root/usr/share/bash-completion/completions/veld-cli" \
        "$command" | sort -u | tr '\n' ' ')
    if [ "$command" != help ] && [ "$command" != update-check ]; then
        [ "$offered" = "$(printf '%s\n' $options --help | sort -u | tr '\n' ' ')" ] ||
            fail "bash completion of $command offers [$offered], help lists [$options]"
    fi
done
status=0
"$root/usr/bin/veld-cli" help no-such-command >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "help of an unknown command: status $status, not 2"
first=$(bash -c '. "$1"; COMP_WORDS=(veld-cli ""); COMP_CWORD=1; _veld_cli; printf "%s\n" "${COMPREPLY[@]}"' sh \
    "$root/usr/share/bash-completion/completions/veld-cli" | grep -v -- '^--' | sort -u | tr '\n' ' ')
[ "$first" = "$(printf '%s\n' $commands | sort -u | tr '\n' ' ')" ] || fail "bash completion offers commands [$first]"

# Built as the distribution builds what parses untrusted input: position-
# independent, full RELRO (read-only after relocation, bound at start), a
# stack protector and the fortified variants of the C library's calls.
if command -v readelf >/dev/null; then
    for program in veld veld-cli; do
        binary=$root/usr/bin/$program
        readelf -hW "$binary" | grep -q 'Type: *DYN' || fail "$program is not position-independent"
        readelf -lW "$binary" | grep -q GNU_RELRO || fail "$program has no RELRO segment"
        readelf -dW "$binary" | grep -q 'BIND_NOW' || fail "$program is not linked with -z now"
        symbols=$(readelf --dyn-syms -W "$binary")
        contains "$symbols" __stack_chk_fail || fail "$program has no stack protector"
        contains "$symbols" _chk@ || fail "$program calls no fortified functions"
    done
fi

# The desktop's own checks, where installed.
if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$root/usr/share/applications/veld.desktop" 2>&1) || fail "desktop entry: $out"
    [ -z "$out" ] || fail "desktop-file-validate has hints: $out"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.veld.metainfo.xml" ||
        fail "appstreamcli validate"
fi
if command -v lintian >/dev/null; then
    echo "== lintian $(basename "$deb")"
    lintian --display-info "$deb" 2>&1 | grep -v 'running with root privileges' | tee "$work/lintian" || true
    ! grep -q '^E:' "$work/lintian" || fail "lintian reports errors"
    ! grep -q ' hardening-' "$work/lintian" || fail "lintian reports missing hardening"
fi
echo "package test passed"
