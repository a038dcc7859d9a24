#!/bin/sh
# Packs the Windows build into the ZIP a lab downloads, unpacks it into a scratch folder and
# runs np3-acquire from there under wine: the unpacked folder alone must be enough to acquire
# and write a SpikeGLX run.
set -eu
build_dir=$1
wine_run=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cpack --config "$build_dir/CPackConfig.cmake" -G ZIP -B "$scratch/package" >/dev/null
zip=$(find "$scratch/package" -maxdepth 1 -name '*.zip')
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$zip")
root=$(find "$scratch/unpacked" -mindepth 1 -maxdepth 1 -type d)
for file in bin/np3_bridge.dll bin/npapi_mock.dll bin/np3-acquire.exe bin/mura-info.exe \
    bin/np3_bridge_resources/22175715561_ADCCalibration.csv include/NeuropixAPI.h \
    lib/libnp3_bridge.dll.a lib/cmake/np3_bridge/np3_bridgeConfig.cmake Windows_host_guide.txt; do
    test -e "$root/$file" || { echo "not in the ZIP: $file"; exit 1; }
done

mkdir "$scratch/work"
cd "$scratch/work"
"$wine_run" "$root/bin/np3-acquire.exe" --seconds 1 --output run
probe=run/run_g0/run_g0_imec0/run_g0_t0.imec0
test -s "$probe.ap.bin" || { echo "no AP samples written"; exit 1; }
grep -q '^~imroTbl=(0,384)(0 0 0 500 250 1)' "$probe.ap.meta" || { echo "imroTbl missing in $probe.ap.meta"; exit 1; }
grep -q '^typeThis=nidq' run/run_g0/run_g0_t0.nidq.meta || { echo "no ADC stream"; exit 1; }
grep -q 'openBS' run/np3_bridge.log || { echo "the library's output did not reach np3_bridge.log"; exit 1; }
echo "the unpacked ZIP acquired: $(ls -l "$probe.ap.bin")"
