// Test tool: prints what Wine hands a Windows program, so that a test can
// check its set-up before it hands the same to the installer: the locale and
// UI language that the variables LANG / LC_ALL gave, the ANSI code page, and
// the bytes of an argument as a narrow main() receives them.
//
//   process_view [<text>]
//       locale 0407
//       ui-language 0407
//       ansi-code-page 1252
//       argument 70 72 F3 64        (only with <text>; nothing after the
//                                    word for an empty text)

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

int main(int argc, char* argv[]) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: process_view [<text>]\n");
    return 2;
  }
  std::printf("locale %04lX\n", static_cast<unsigned long>(GetUserDefaultLCID()));
  std::printf("ui-language %04X\n", static_cast<unsigned>(GetUserDefaultUILanguage()));
  std::printf("ansi-code-page %u\n", GetACP());
  if (argc == 2) {
    std::printf("argument");
    for (const char* byte = argv[1]; *byte != '\0'; ++byte) {
      std::printf(" %02X", static_cast<unsigned char>(*byte));
    }
    std::printf("\n");
  }
  return 0;
}
