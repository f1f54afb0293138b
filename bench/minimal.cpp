// The baseline for the start-up benchmark: a console program that does what
// every run of certinstall does besides its certificates (start the C++
// runtime, write one line to std::cout) and nothing else. Built with the
// program's own compile and link options.
#include <iostream>

int main() {
  std::cout << "minimal" << std::endl;
  return 0;
}
