// Window driving for the tests: enumeration filtered by process, reading of
// texts and icons, and button presses by message.
#include "window_driver.h"

#include <cstdio>
#include <cstring>

namespace {

struct DialogSearch {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
  DialogSearch *search = reinterpret_cast<DialogSearch *>(context);
  char class_name[32] = "";
  GetClassNameA(window, class_name, sizeof class_name);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (strcmp(class_name, "#32770") == 0 && IsWindowVisible(window) && (search->pid == 0 || pid == search->pid))
    search->found.push_back(window);
  return TRUE;
}

enum { kIconSide = 32 };

// A 32 x 32 bottom-up 32-bit DIB section selected into a memory DC.
struct PixelCanvas {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void *bits = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  PixelCanvas() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kIconSide;
    info.bmiHeader.biHeight = kIconSide;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    old = SelectObject(memory, bitmap);
  }
  ~PixelCanvas() {
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
  }
  std::vector<DWORD> Pixels() {
    GdiFlush();
    const DWORD *first = static_cast<const DWORD *>(bits);
    std::vector<DWORD> pixels(first, first + kIconSide * kIconSide);
    for (DWORD &pixel : pixels)
      pixel &= 0xFFFFFF;
    return pixels;
  }
};

// What the icon control of another process shows, read from the screen: its
// icon handle means nothing in this process.
std::vector<DWORD> ScreenPixels(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  PixelCanvas canvas;
  BitBlt(canvas.memory, 0, 0, kIconSide, kIconSide, canvas.screen, rect.left, rect.top, SRCCOPY);
  return canvas.Pixels();
}

std::vector<DWORD> ReferencePixels(LPCSTR id, COLORREF background) {
  PixelCanvas canvas;
  RECT all = {0, 0, kIconSide, kIconSide};
  HBRUSH brush = CreateSolidBrush(background);
  FillRect(canvas.memory, &all, brush);
  DeleteObject(brush);
  DrawIconEx(canvas.memory, 0, 0, LoadIconA(nullptr, id), kIconSide, kIconSide, 0, nullptr, DI_NORMAL);
  return canvas.Pixels();
}

BoxIcon IconKind(HWND control) {
  if (control == nullptr || SendMessageA(control, STM_GETICON, 0, 0) == 0)
    return kIconNone;
  const struct {
    LPCSTR id;
    BoxIcon kind;
  } known[] = {{IDI_INFORMATION, kIconInformation},
               {IDI_WARNING, kIconWarning},
               {IDI_QUESTION, kIconQuestion},
               {IDI_ERROR, kIconError}};
  // The box may still be painting: look a few times.
  for (int attempt = 0; attempt < 25; ++attempt) {
    std::vector<DWORD> shown = ScreenPixels(control);
    // Icons leave their corners transparent: the corner is the background.
    DWORD corner = shown[0];
    COLORREF background = RGB(corner >> 16 & 0xFF, corner >> 8 & 0xFF, corner & 0xFF);
    for (const auto &candidate : known) {
      if (shown == ReferencePixels(candidate.id, background))
        return candidate.kind;
    }
    Sleep(40);
  }
  return kIconOther;
}

} // namespace

std::vector<HWND> DialogsOf(DWORD pid) {
  DialogSearch search{pid, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string WindowText(HWND window) {
  char text[4096] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// Asks the control itself: edit controls keep their text to themselves, and
// a window of another process only answers WM_GETTEXT. The timeout keeps a
// blocked thread from hanging the test.
std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr)
    return std::string();
  char text[4096] = "";
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                           &copied))
    return WindowText(control);
  return text;
}

bool IsControlEnabled(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && IsWindowEnabled(control);
}

HWND WaitForDialogWithControl(DWORD pid, const std::string &caption, int control_id, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    for (HWND window : DialogsOf(pid)) {
      if (WindowText(window) == caption && (control_id == 0 || GetDlgItem(window, control_id) != nullptr))
        return window;
    }
    if (GetTickCount() - start > timeout_ms)
      return nullptr;
    Sleep(20);
  }
}

MessageBoxView ReadMessageBox(HWND box) {
  MessageBoxView view;
  view.caption = WindowText(box);
  view.text = ControlText(box, 0xFFFF);
  view.icon = IconKind(GetDlgItem(box, 0x440));
  view.owner = GetWindow(box, GW_OWNER);
  const int candidates[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO};
  for (int id : candidates) {
    if (GetDlgItem(box, id))
      view.buttons.push_back(id);
  }
  return view;
}

void PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void PressEscape(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  HWND target = dialog;
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus && IsChild(dialog, info.hwndFocus))
    target = info.hwndFocus;
  PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void PressCloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool WaitForWindowGone(HWND window, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - start > timeout_ms)
      return false;
    Sleep(20);
  }
  return true;
}

bool SaveWindowImage(HWND window, const std::string &bmp_path) {
  RECT rect;
  if (!GetWindowRect(window, &rect))
    return false;
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0)
    return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  DWORD row_bytes = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  DWORD image_bytes = row_bytes * static_cast<DWORD>(height);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + image_bytes;
  bool ok = false;
  FILE *out = fopen(bmp_path.c_str(), "wb");
  if (out) {
    ok = fwrite(&header, sizeof header, 1, out) == 1 && fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
         fwrite(bits, 1, image_bytes, out) == image_bytes;
    ok = fclose(out) == 0 && ok;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}
