// "Another process" for the tests: holds a named mutex, or holds a file open
// without share-delete, signals the named ready event, and waits to be killed.
//   testhelper mutex READY_EVENT NAME
//   testhelper file READY_EVENT PATH
#include <windows.h>

#include <cstring>

int main(int argc, char **argv) {
  if (argc != 4)
    return 2;
  HANDLE held = nullptr;
  if (std::strcmp(argv[1], "mutex") == 0)
    held = CreateMutexA(nullptr, TRUE, argv[3]);
  else if (std::strcmp(argv[1], "file") == 0)
    held = CreateFileA(argv[3], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  if (held == nullptr || held == INVALID_HANDLE_VALUE)
    return 3;
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (ready == nullptr)
    return 4;
  SetEvent(ready);
  Sleep(INFINITE);
  return 0;
}
