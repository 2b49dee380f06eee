#include "host/interrupt_cleanup.h"
#include "host/roundcorners.h"

int main(int argc, char **argv) {
    RemoveTemporariesOnInterrupt();
    return RoundCornersMain(argc, argv, stdout, stderr);
}
