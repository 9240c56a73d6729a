# cmake -DIN=file -DOUT=file -P windows_text.cmake
# Copies a text file with CRLF line ends, which every Notepad shows as lines
# (before Windows 10 it shows a file with LF ends as one long line).
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
