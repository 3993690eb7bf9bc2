#include <cstdio>

#include <mokavi.hpp>

int main() {
    mokavi::Interpreter perl;
    const std::string text = perl.eval("join '-', map { $_ ** 2 } 1 .. 4").str();
    std::printf("find_package consumer: %s\n", text.c_str());
    return text == "1-4-9-16" ? 0 : 1;
}
