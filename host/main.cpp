#include "host/roundcorners.h"

int main(int argc, char **argv) { return RoundCornersMain(argc, argv, stdout, stderr); }
