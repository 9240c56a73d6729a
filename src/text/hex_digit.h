#pragma once

// The value of one hex digit of either case, or -1 for any other character.
int HexDigitValue(char c);
