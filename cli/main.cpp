#include "programs.h"

int main(int argc, char** argv) {
    return quorbin_main(argc, argv);
}
