#!/usr/bin/env bash
# Builds the Debian package of the build (cpack -G DEB), checks its contents,
# Depends and profile script, unpacks it into a scratch root (dpkg -x) and
# lists a simulated camera with the unpacked gevtl, which must load the
# unpacked producer beside it. The camera part runs inside netns-run.
#
#   deb-package.sh BUILD_DIR NETNS_RUN WITH_GEVSIM GEVSIM
#   deb-package.sh --inside ROOT        (the part inside the namespaces)
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$1" = --inside ]; then
    root=$2
    gevtl=$root/usr/bin/gevtl
    listed=no
    for _ in $(seq 50); do
        if "$gevtl" list >"$root/../list.out" 2>&1 && grep -q "$GEVTLKRV_SIM_SERIAL" "$root/../list.out"; then
            listed=yes
            break
        fi
        sleep 0.1
    done
    cat "$root/../list.out"
    [ $listed = yes ] || fail "the unpacked gevtl does not list the camera"
    loaded=$("$gevtl" get --module system TLPath)
    echo "producer: $loaded"
    [ "$(realpath "$loaded")" = "$(realpath "$root/usr/lib/GEVTLKRV/GEVTLKRV.cti")" ] ||
        fail "gevtl loaded $loaded, not the producer of the package"
    exit 0
fi

build=$1 netns_run=$2 with_gevsim=$3 gevsim=$4
for tool in cpack dpkg dpkg-deb; do
    command -v $tool >/dev/null || { echo "no $tool"; exit 77; }
done
work=$build/package-test/deb
rm -rf "$work"
mkdir -p "$work"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" ||
    { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "cpack made ${#debs[@]} packages"
deb=${debs[0]}
echo "package: $(basename "$deb")"

dpkg -c "$deb" >"$work/contents"
for file in /usr/lib/GEVTLKRV/GEVTLKRV.cti /usr/bin/gevtl /usr/include/GEVTLKRV/GenTL.h \
            /usr/include/GEVTLKRV/GEVTLKRVInfo.h /usr/lib/cmake/GEVTLKRV/GEVTLKRVConfig.cmake \
            /usr/lib/pkgconfig/gevtlkrv.pc /etc/profile.d/gevtlkrv.sh \
            /etc/sysctl.d/60-gige-vision.conf; do
    grep -qE " \.$file\$" "$work/contents" || fail "the package lacks $file"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dependency in libc6 libstdc++6 libaravis-0.8 libpng16 libzip; do
    grep -qF "$dependency" <<<"$depends" || fail "Depends lacks $dependency"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './conffiles' || fail "no conffiles"

dpkg -x "$deb" "$work/root"
root=$work/root
grep -qE '^net\.core\.rmem_max *= *67108864$' "$root/etc/sysctl.d/60-gige-vision.conf" ||
    fail "the sysctl drop-in does not raise net.core.rmem_max"

# The profile script, as sh sources it at login.
profile=$root/etc/profile.d/gevtlkrv.sh
path_after() { env -i "$@" sh -c ". '$profile'; . '$profile'; printf %s \"\$GENICAM_GENTL64_PATH\""; }
dir=$(path_after)
[ "$dir" = /usr/lib/GEVTLKRV ] || fail "the profile script sets '$dir' when the variable is unset"
[ -f "$root$dir/GEVTLKRV.cti" ] || fail "the profile script names $dir, where the package has no .cti"
[ "$(path_after GENICAM_GENTL64_PATH=/opt/x)" = /opt/x:$dir ] || fail "the profile script with /opt/x"
[ "$(path_after GENICAM_GENTL64_PATH=)" = "$dir" ] || fail "the profile script with an empty path"
[ "$(path_after GENICAM_GENTL64_PATH=/a:$dir:/b)" = /a:$dir:/b ] || fail "the profile script repeats $dir"
echo "profile script: PASS"

"$netns_run" -- "$with_gevsim" "$gevsim" "$0" --inside "$root"
echo "Debian package: PASS"
