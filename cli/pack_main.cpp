#include "programs.h"

int main(int argc, char** argv) {
    return quorbin_pack_main(argc, argv);
}
