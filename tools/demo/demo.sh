#!/usr/bin/env bash
# The demo, run inside `netns-run --cameras 1`: a simulated camera serves in the
# camera namespace behind a veth link, as a real one behind a network adapter
# would, and gevtl finds it through the producer, grabs from it and saves the
# last frame. The simulator loses one packet in 500 so packet resend is seen at work.
#
#   demo.sh GEVTL GEVSIM OUTPUT_PNG [FRAMES]
set -euo pipefail

gevtl=$1 gevsim=$2 png=$3 frames=${4:-100}
cam_ns=${GEVTLKRV_NETNS_CAM0:?run inside netns-run --cameras 1}
log=$(mktemp)
ip netns exec "$cam_ns" "$gevsim" --address 169.254.10.2 --mask 255.255.255.0 \
    --mac 02:00:5e:de:00:01 --serial DEMO0001 --user-name demo-camera \
    --width 640 --height 480 --fps 50 --loss-ratio 0.002 --seed 1 >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$log"' EXIT

# Bounded wait for the simulator to answer discovery.
for _ in $(seq 50); do
    "$gevtl" list 2>/dev/null | grep -q DEMO0001 && break
    kill -0 "$sim" 2>/dev/null || { cat "$log" >&2; exit 1; }
    sleep 0.1
done

"$gevtl" demo DEMO0001 -n "$frames" --png "$png"
