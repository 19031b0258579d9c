#!/usr/bin/env bash
# One end-to-end case of the gevtl tool against a simulated camera. Runs inside
# netns-run (the ctest entry wraps it); exit 77 = skipped.
#
#   gevtl-test.sh CASE GEVTL GEVSIM PNG_CHECK GEVSIM_XML
set -uo pipefail

case_name=$1 gevtl=$2 gevsim=$3 png_check=$4 gevsim_xml=$5
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
# Runs gevtl, echoing the command; its output goes to $work/out.
run() {
    echo "+ gevtl $*"
    "$gevtl" "$@" >"$work/out" 2>"$work/err"
    local rc=$?
    cat "$work/out" "$work/err"
    return $rc
}
expect_out() { grep -qF -- "$1" "$work/out" || fail "output lacks \"$1\""; }

[ -n "${GEVTLKRV_NETNS_HOST:-}" ] || { echo "not inside netns-run"; exit 77; }
for tool in "$gevtl" "$gevsim"; do
    [ -x "$tool" ] || { echo "$tool is not built"; exit 77; }
done

# Starts the simulator and waits until gevtl lists it.
start_sim() {
    "$gevsim" --address 127.0.0.2 --serial TOOL1 --user-name cam-one --mac 02:00:5e:10:00:01 \
        --width 64 --height 48 "$@" >"$work/sim.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do
        "$gevtl" list 2>/dev/null | grep -q TOOL1 && return 0
        sleep 0.1
    done
    cat "$work/sim.log"
    fail "the simulator does not show up"
}

case "$case_name" in
list)
    start_sim
    run list || fail "list"
    expect_out "TOOL1"
    expect_out "127.0.0.2"
    expect_out "02:00:5e:10:00:01"
    expect_out "cam-one"
    expect_out "GEVSIM-1@02-00-5E-10-00-01"
    expect_out "ReadWrite"
    ;;
naming)
    start_sim
    for name in TOOL1 cam-one 127.0.0.2 0 GEVSIM-1@02-00-5E-10-00-01; do
        run get "$name" Width || fail "get by $name"
        [ "$(cat "$work/out")" = 64 ] || fail "Width by $name"
    done
    run get 127.0.0.99 Width && fail "an unknown camera is found"
    grep -q "no camera named" "$work/err" || fail "no message for an unknown camera"
    ;;
set-get)
    start_sim
    run set TOOL1 Width=32 Height=24 || fail "set"
    run get TOOL1 Width Height || fail "get"
    expect_out "Width = 32"
    expect_out "Height = 24"
    run set TOOL1 Width=abc && fail "a bad value is accepted"
    run get TOOL1 NoSuchFeature && fail "an unknown feature is read"
    run features TOOL1 || fail "features"
    expect_out "Width (Integer) = 32"
    run info TOOL1 || fail "info"
    expect_out "Serial:       TOOL1"
    ;;
modules)
    start_sim
    run get --module system TLVendorName || fail "system module"
    [ -s "$work/out" ] || fail "no TLVendorName"
    run get --module interface TOOL1 DeviceCount || fail "interface module"
    [ "$(cat "$work/out")" = 1 ] || fail "DeviceCount"
    # The interface by its ID, or the first one when none is named.
    run get --module interface DeviceCount || fail "first interface"
    [ "$(cat "$work/out")" = 1 ] || fail "DeviceCount of the first interface"
    iface=$("$gevtl" get --module interface InterfaceID) || fail "InterfaceID"
    run get --module interface "$iface" DeviceCount || fail "interface by ID"
    [ "$(cat "$work/out")" = 1 ] || fail "DeviceCount of $iface"
    # Address features are shown in their representation's form.
    run get --module interface TOOL1 GevDeviceIPAddress GevDeviceMACAddress || fail "addresses"
    expect_out "GevDeviceIPAddress = 127.0.0.2"
    expect_out "GevDeviceMACAddress = 02:00:5e:10:00:01"
    run get --module device TOOL1 DeviceID || fail "device module"
    expect_out "GEVSIM-1@02-00-5E-10-00-01"
    run get --module stream TOOL1 StreamID || fail "stream module"
    [ -s "$work/out" ] || fail "no StreamID"
    # The stream's buffer handling mode and counters, as a feature browser shows them.
    run features --module stream TOOL1 || fail "stream features"
    expect_out "StreamBufferHandlingMode (Enumeration) = OldestFirst"
    expect_out "StreamDeliveredFrameCount (IntReg) = 0"
    expect_out "StreamIsGrabbing (Boolean) = false"
    # Nothing comes unasked: the bounded wait ends with none.
    run events TOOL1 --seconds 1 || fail "events"
    expect_out "0 events"
    # The simulator's test event travels its message channel to the consumer.
    run events TOOL1 --seconds 5 -n 1 --execute TestEventGenerate || fail "test event"
    expect_out "event 1: ID 0x9000,"
    expect_out "1 events"
    ;;
xml)
    start_sim
    run xml TOOL1 -o "$work/camera.xml" || fail "xml"
    cmp "$work/camera.xml" "$gevsim_xml" || fail "the description differs from the simulator's"
    ;;
registers)
    start_sim
    # DeviceUserID: 16 bytes of the bootstrap's user-defined name at 0xE8.
    run write TOOL1 0xE8 0x41424344 || fail "write"
    run read TOOL1 0xE8 || fail "read"
    expect_out "0x41424344"
    run read TOOL1 0xE8 --size 16 || fail "read memory"
    expect_out "41 42 43 44 6f 6e 65 00"
    run get TOOL1 DeviceUserID || fail "get DeviceUserID"
    expect_out "ABCDone"
    # TestPatternReg is a plain RW register of the simulator.
    run write TOOL1 0x10014 2 || fail "write TestPatternReg"
    run get TOOL1 TestPattern || fail "get TestPattern"
    expect_out "GreyVerticalRamp"
    ;;
grab)
    command -v "$png_check" >/dev/null || { echo "png checker not built"; exit 77; }
    start_sim --fps 50
    run set TOOL1 TestPattern=Off || fail "TestPattern"
    run grab TOOL1 -n 20 --save "$work/frames" || fail "grab"
    expect_out "20 frames"
    expect_out "0 incomplete"
    [ "$(ls "$work/frames" | wc -l)" = 20 ] || fail "not 20 files"
    "$png_check" 64 48 0xFF "$work"/frames/*.png || fail "frames"
    run grab TOOL1 -n 10 --zero-copy --buffers 3 --save "$work/zero" || fail "zero-copy grab"
    "$png_check" 64 48 0xFF "$work"/zero/*.png || fail "zero-copy frames"
    # A live view's mode: each frame is the newest the camera sent.
    run grab TOOL1 -n 5 --mode NewestOnly --buffers 2 --save "$work/newest" || fail "NewestOnly grab"
    expect_out "5 frames"
    "$png_check" 64 48 0xFF "$work"/newest/*.png || fail "NewestOnly frames"
    run grab TOOL1 -n 1 --mode Sideways && fail "an unknown mode is accepted"
    ;;
grab-resend)
    # The camera loses one packet in ten: grab asks for them again unless told not to.
    start_sim --fps 30 --width 320 --height 240 --loss-ratio 0.1 --seed 5
    run grab TOOL1 -n 20 || fail "grab"
    expect_out "20 frames"
    expect_out " 0 incomplete"
    grep -q " 0 resent" "$work/out" && fail "no packet was asked for again"
    run grab TOOL1 -n 20 --no-resend || fail "grab without resend"
    grep -q " 0 resent" "$work/out" || fail "packets asked for again without resend"
    run grab TOOL1 -n 1 --resend --no-resend && fail "both resend options are accepted"
    ;;
grab-formats)
    command -v "$png_check" >/dev/null || { echo "png checker not built"; exit 77; }
    # 16-bit pixels: Mono12 as 16-bit grey PNG, and as PGM.
    start_sim --fps 50
    run set TOOL1 PixelFormat=Mono12 TestPattern=Off || fail "PixelFormat"
    run grab TOOL1 -n 5 --save "$work/mono12" || fail "grab Mono12"
    expect_out "0 incomplete"
    [ "$(ls "$work/mono12" | wc -l)" = 5 ] || fail "not 5 files"
    "$png_check" 64 48 0xFFF "$work"/mono12/*.png || fail "Mono12 frames"
    run grab TOOL1 -n 2 --pgm --save "$work/pgm" || fail "grab PGM"
    for file in "$work"/pgm/*.pgm; do
        [ "$(head -c 14 "$file")" = "$(printf 'P5\n64 48\n4095\n')" ] || fail "PGM header of $file"
        [ "$(stat -c %s "$file")" = $((14 + 64 * 48 * 2)) ] || fail "PGM size of $file"
    done
    run set TOOL1 PixelFormat=Mono16 || fail "PixelFormat Mono16"
    run grab TOOL1 -n 3 --save "$work/mono16" || fail "grab Mono16"
    "$png_check" 64 48 0xFFFF "$work"/mono16/*.png || fail "Mono16 frames"
    ;;
grab-multipart)
    command -v "$png_check" >/dev/null || { echo "png checker not built"; exit 77; }
    # Three parts a frame: a Mono16 range map and the Mono8 image as PNG, the
    # Confidence8 map (not a grey format the tool saves) as raw bytes.
    start_sim --fps 50 --payload multi-part --parts 3
    run set TOOL1 TestPattern=Off || fail "TestPattern"
    for mode in copy zero-copy; do
        flags=()
        [ "$mode" = zero-copy ] && flags=(--zero-copy --buffers 3)
        run grab TOOL1 -n 4 "${flags[@]}" --save "$work/$mode" || fail "$mode grab"
        expect_out "0 incomplete"
        expect_out "multi-part frames of 3 parts:"
        expect_out "part 0: 3D image, format 0x01100007, 64x48 (48 delivered), padding 0, 6144 bytes"
        expect_out "part 1: 2D image, format 0x01080001, 64x48 (48 delivered), padding 0, 3072 bytes"
        expect_out "part 2: confidence map, format 0x010800c6, 32x24 (24 delivered), padding 0, 768 bytes"
        [ "$(ls "$work/$mode" | grep -c -- '-part0\.png$')" = 4 ] || fail "$mode: not 4 range maps"
        [ "$(ls "$work/$mode" | grep -c -- '-part1\.png$')" = 4 ] || fail "$mode: not 4 images"
        [ "$(ls "$work/$mode" | grep -c -- '-part2\.raw$')" = 4 ] || fail "$mode: not 4 maps"
        [ "$(ls "$work/$mode" | wc -l)" = 12 ] || fail "$mode: files besides the parts"
        for file in "$work/$mode"/*-part2.raw; do
            [ "$(stat -c %s "$file")" = 768 ] || fail "size of $file"
        done
        "$png_check" 64 48 0xFF "$work/$mode"/*-part1.png || fail "$mode: image parts"
    done
    ;;
forceip)
    start_sim
    run forceip 02:00:5e:10:00:01 127.0.0.9 255.0.0.0 0.0.0.0 || fail "forceip"
    run list || fail "list"
    expect_out "127.0.0.9"
    run get 127.0.0.9 Width || fail "get at the new address"
    ;;
errors)
    for command in list get set features info read write xml grab events forceip demo; do
        "$gevtl" "$command" --help >"$work/out" || fail "$command --help"
        grep -q "usage: gevtl $command" "$work/out" || fail "$command --help text"
    done
    [ "$("$gevtl" get >/dev/null 2>&1; echo $?)" = 2 ] || fail "missing arguments are a usage error"
    run list --cti /nonexistent.cti && fail "a missing producer is accepted"
    grep -q "dlopen" "$work/err" || fail "no dlopen message"
    start_sim
    run read TOOL1 0x12345678 && fail "a read of an unmapped address succeeds"
    [ -s "$work/err" ] || fail "no error text"
    grep -q "GCReadPort failed: GC_ERR" "$work/err" || fail "no GenTL error text"
    ;;
demo)
    [ -n "${GEVTLKRV_NETNS_CAM0:-}" ] || { echo "no camera namespace"; exit 77; }
    demo=$(dirname "$0")/../../tools/demo/demo.sh
    echo "+ demo.sh"
    "$demo" "$gevtl" "$gevsim" "$work/demo.png" 20 >"$work/out" 2>&1 || { cat "$work/out"; fail "demo"; }
    cat "$work/out"
    expect_out "(Tarvane GmbH GEVTLKRV "
    expect_out "DEMO0001"
    expect_out "169.254.10.2"
    expect_out "169.254.10.1"  # the adapter it was found through
    expect_out "20 frames"
    expect_out "0 incomplete"
    grep -Eq " [1-9][0-9]* resent" "$work/out" || fail "the simulator's losses were not asked for again"
    # IHDR: 640 x 480, 8-bit grey.
    [ "$(od -An -tx1 -j16 -N10 "$work/demo.png" | tr -d ' \n')" = 00000280000001e00800 ] ||
        fail "demo.png is not a 640x480 8-bit grey PNG"
    ;;
aravis-fake)
    command -v arv-fake-gv-camera-0.8 >/dev/null || { echo "arv-fake-gv-camera-0.8 missing"; exit 77; }
    [ -n "${GEVTLKRV_NETNS_CAM0:-}" ] || { echo "no camera namespace"; exit 77; }
    ip netns exec "$GEVTLKRV_NETNS_CAM0" arv-fake-gv-camera-0.8 -i 169.254.10.2 -s GV42 \
        >"$work/fake.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do
        "$gevtl" list 2>/dev/null | grep -q GV42 && break
        sleep 0.1
    done
    run list || fail "list"
    expect_out "GV42"
    expect_out "169.254.10.2"
    run get GV42 Width || fail "get Width"
    run set GV42 Width=256 || fail "set Width"
    run get GV42 Width || fail "get Width back"
    [ "$(cat "$work/out")" = 256 ] || fail "Width not read back"
    run xml GV42 -o "$work/fake.xml" || fail "xml"
    grep -q "RegisterDescription" "$work/fake.xml" || fail "not a description"
    # Aravis's own client reads the same description (it adds a final newline).
    if command -v arv-tool-0.8 >/dev/null; then
        timeout 30 arv-tool-0.8 -a 169.254.10.2 genicam >"$work/arv.xml" || fail "arv-tool genicam"
        [ "$(cat "$work/fake.xml")" = "$(cat "$work/arv.xml")" ] || fail "descriptions differ"
    fi
    run grab GV42 -n 5 --save "$work/fake" || fail "grab"
    expect_out "5 frames"
    expect_out "0 incomplete"
    [ "$(ls "$work/fake" | wc -l)" = 5 ] || fail "not 5 files"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "PASS: $case_name"
