// The roundcorners command, callable in-process: argv as main gets it, normal
// output to out and messages to err. Returns the exit status: 0 when every
// file was done, 1 when some file (or storing the settings) failed, 2 for a
// mistake on the command line.
#pragma once

#include <cstdio>

int RoundCornersMain(int argc, const char *const *argv, FILE *out, FILE *err);
