// Program entry of the NorvoOPC server.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::puts("NorvoOPC data access server");
  return 0;
}
