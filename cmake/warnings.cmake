# The warning flags every C++ file of ours is compiled with, shared by the main
# build and the benchmark's native build.
set(TIDEWELL_WARNINGS -Wall -Wextra -Werror)
