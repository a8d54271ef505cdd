; Example upgrade script for the Quorvane device servers.
; One command per line, tokens separated by single spaces; everything after
; a semicolon is a comment. Numbers: decimal, 0x hexadecimal or 0 octal.

; The device accepts memory commands only in programming mode.
SETPROGRAMMODE

; Blank the 64 KiB segment 1 that holds the firmware before writing it.
ERASE 0x0001

; Send the firmware image (a member of this package) to segment 1, offset 0.
; The device chooses the block size and checks the sum of all bytes at the end.
LOAD firmware.bin 0x0001:0x0000

; Read what the device now holds back into READBACK.BIN, beside the package,
; so it can be compared with the image (30001 bytes, the image's size).
READ readback.bin 0x0001:0x0000 30001

; Start the new firmware.
RESET
