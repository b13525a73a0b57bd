// The smallest C++ program: prints a line through the standard streams, so
// that the C++ runtime is loaded with or without the reporter. Built twice,
// like main.cpp, to tell the reporter's own start-up from the runtime's.
#include <iostream>

int main()
{
    std::cout << "started" << std::endl;
    return 0;
}
