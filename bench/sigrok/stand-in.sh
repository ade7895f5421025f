#!/bin/sh
# A stand-in for meter-sigrok (VARNIK_SIGROK_HELPER) for bench/sigrok/memory.sh: a device of one
# channel that writes reading lines as fast as the recorder takes them (the pipe paces it), each
# with a new value (0.000 .. 3.999 V DC, as a 4000-count multimeter shows them).
[ "$1" = --check ] && { printf 'meter-sigrok\t1\nok\n'; exit 0; }
printf 'meter-sigrok\t1\ndevice\tstand-in\t1\nchannel\t0\tP1\n'
exec mawk 'BEGIN { for (i = 0; ; i++) printf "reading\t0\t%d.%03d\t3\tvoltage\tV\tdc,auto\n", (i % 4000) / 1000, i % 1000 }'
