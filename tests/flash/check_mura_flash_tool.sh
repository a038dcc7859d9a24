#!/bin/sh
# mura-flash against the box model, whose flash lives in a file between the runs.
#   program:  a generated image programs, verifies and reads back identical, zero-padded
#   info:     the hardware information record round-trips; a different record is refused
#             without --erase and written with it
#   refusals: a missing image and a misaligned address fail with their messages and leave
#             the flash as it was
set -eu
tool=$1
part=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

fail() {
    echo "FAILED: $*"
    echo "--- standard output"; cat out.txt 2>/dev/null || true
    echo "--- standard error"; cat err.txt 2>/dev/null || true
    exit 1
}
# Runs the tool on the model; sets $status instead of stopping the script.
run() {
    status=0
    "$tool" --box-model --box-flash flash.bin "$@" >out.txt 2>err.txt || status=$?
}
expect_status() {
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}
expect_line() { # file, exact line
    grep -qxF -- "$2" "$1" || fail "no line '$2' in $1"
}

case $part in
program)
    head -c 100000 /dev/urandom >image.bin
    run program image.bin --address 0xB00000 --verify
    expect_status 0
    expect_line out.txt "programmed 'image.bin' at 0xb00000"
    expect_line out.txt "verified 131072 bytes (the image zero-padded to whole sectors)"
    expect_line err.txt "programming 100% (131072 of 131072 bytes)"

    run read copy.bin --length 100000 --address 0xB00000
    expect_status 0
    cmp image.bin copy.bin || fail "the image read back differs"

    run read padding.bin --length 31072 --address 0xB186A0
    expect_status 0
    head -c 31072 /dev/zero | cmp - padding.bin || fail "the padding is not zeros"
    run read next.bin --length 16 --address 0xB20000
    head -c 16 /dev/zero | tr '\0' '\377' | cmp - next.bin || fail "the sector after the image is not erased"
    ;;
info)
    record="00112233445566778899aabbccddeeff 0123456789abcdef0123456789abcdef"
    run info-read
    expect_status 0
    expect_line out.txt "(erased: no record has been written)"

    run info-write --hex "$record"
    expect_status 0
    run info-read --output record.bin
    expect_status 0
    expect_line out.txt "  00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff"
    expect_line out.txt "  01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef"
    [ "$(od -An -v -tx1 record.bin | tr -d ' \n')" = "$(echo "$record" | tr -d ' ')" ] ||
        fail "the record file holds other bytes"

    printf 'ABCDEFGHIJKLMNOPQRSTUVWXYZ012345' >other.bin
    run info-write --file other.bin
    expect_status 1
    expect_line err.txt "mura-flash: the flash holds a different record; nothing was written:"
    expect_line err.txt "Run info-write again with --erase to erase the record's 64 KiB sector (0xff0000..0xffffff) first."
    run info-read --output unchanged.bin
    cmp record.bin unchanged.bin || fail "a refused record changed the flash"

    run info-write --erase --file other.bin
    expect_status 0
    run info-read --output replaced.bin
    cmp other.bin replaced.bin || fail "the erased and rewritten record differs"
    ;;
refusals)
    head -c 70000 /dev/urandom >image.bin
    run program image.bin
    expect_status 0
    cp flash.bin before.bin

    run program missing.bin
    expect_status 1
    expect_line out.txt "Dosya acilamaldi"
    expect_line err.txt "File coundn't be opened"
    cmp flash.bin before.bin || fail "a missing image changed the flash"

    run program image.bin --address 0xB00100
    expect_status 1
    expect_line err.txt "Flash address 0xb00100 is not at a 64 KiB sector boundary"
    run program image.bin --address 0xFE0000
    expect_status 1
    expect_line err.txt "Image of 70000 bytes at 0xfe0000 reaches the hardware information sector at 0xff0000"
    cmp flash.bin before.bin || fail "a refused image changed the flash"

    run read copy.bin --length 0x20 --address 0xFFFFF0
    expect_status 2
    run info-write --hex 1234
    expect_status 2
    ;;
*)
    echo "unknown part $part"
    exit 2
    ;;
esac
echo "mura-flash $part: ok"
