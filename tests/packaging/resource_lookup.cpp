// Prints where the np3_bridge library it is linked with finds a shipped file.
#include "Resources.h"

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: resource_lookup <file name>\n";
        return 2;
    }
    std::cout << Selvan::MURA::resources::find(argv[1]).string() << '\n';
    return 0;
}
