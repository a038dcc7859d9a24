#include <cstddef>
#include <cstdio>

extern const void* const every_function[];
extern const std::size_t every_function_count;

int main() {
    for (std::size_t i = 0; i < every_function_count; ++i) {
        if (every_function[i] == nullptr) {
            std::printf("function %zu is missing\n", i);
            return 1;
        }
    }
    std::printf("%zu functions linked\n", every_function_count);
    return 0;
}
