// The connector on a display of 100 %, 150 % or 200 %: its windows keep the layout of their
// templates at the display's scale, no text is cut off, and its icons are drawn at the sizes
// the display asks for. at_dpi.sh runs this in a fresh Wine prefix set to the DPI it passes in
// KX7_DPI, and turns the screenshots written to KX7_SHOT_DIR into PNG files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "connector/app/framework_win.h"
#include "connector/app/tray_dialog_win.h"
#include "tests/e2e/process_driver_win.h"
#include "tests/fakes/product_texts.h"

namespace kx7::e2e {
namespace {

using namespace test;

const wchar_t kKx7UsbName[] =
    L"\\\\?\\USB#VID_6B2F&PID_1180#DEMO00000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr UINT kIconResource = 128;
constexpr DWORD kTimeoutMs = 30000;

// The icon sizes Windows uses at each scale.
struct DisplayScale {
    int dpi;
    int smallIcon;
    int largeIcon;
};
constexpr DisplayScale kScales[] = {{96, 16, 32}, {144, 24, 48}, {192, 32, 64}};

// A control of a dialog template, in dialog units; text is what it shows, if anything.
struct TemplateControl {
    int id;
    int x, y, cx, cy;
    const wchar_t* text;
};
// The main window's template: 242 x 243 units.
constexpr SIZE kMainTemplate = {242, 243};
const TemplateControl kMainControls[] = {
    {1000, 7, 30, 228, 145, nullptr},         {1001, 7, 175, 228, 37, nullptr},
    {1003, 15, 13, 82, 13, L"Device Serial"}, {1004, 109, 13, 119, 13, nullptr},
    {1005, 167, 216, 65, 16, L"Close"},
};
// The About box's template: 279 x 63 units; its icon at (11, 17) keeps its own size.
constexpr SIZE kAboutTemplate = {279, 63};
constexpr POINT kAboutIconAt = {11, 17};
const TemplateControl kAboutTexts[] = {
    {-1, 40, 10, 119, 8, L"KX7AutoConnector Version 2.0.5.3"},
    {-1, 40, 25, 215, 8, L"Unlocks paired KX7 drives on this PC automatically."},
    {IDOK, 222, 40, 50, 16, L"OK"},
};

const DisplayScale* ScaleUnderTest() {
    wchar_t text[16] = {};
    if (GetEnvironmentVariableW(L"KX7_DPI", text, 16) == 0) {
        return nullptr;
    }
    const int dpi = _wtoi(text);
    for (const DisplayScale& scale : kScales) {
        if (scale.dpi == dpi) {
            return &scale;
        }
    }
    return nullptr;
}

// The dialog font of the templates at this DPI, and the dialog units it gives, measured here as
// the dialog manager measures them: the height of the font, and the mean width of the letters.
class DialogFont {
  public:
    explicit DialogFont(int dpi) {
        LOGFONTW font = {};
        font.lfHeight = -MulDiv(8, dpi, 72);
        font.lfCharSet = DEFAULT_CHARSET;
        wcsncpy(font.lfFaceName, L"MS Shell Dlg", LF_FACESIZE - 1);
        font_ = CreateFontIndirectW(&font);
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, font_);
        TEXTMETRICW metrics = {};
        GetTextMetricsW(dc_, &metrics);
        baseY_ = metrics.tmHeight;
        baseX_ = (Extent(kLetters).cx / 26 + 1) / 2;
    }
    ~DialogFont() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(font_);
    }
    DialogFont(const DialogFont&) = delete;
    DialogFont& operator=(const DialogFont&) = delete;

    SIZE Extent(const wchar_t* text) const {
        SIZE size = {};
        GetTextExtentPoint32W(dc_, text, static_cast<int>(wcslen(text)), &size);
        return size;
    }
    int X(int units) const { return MulDiv(units, baseX_, 4); }
    int Y(int units) const { return MulDiv(units, baseY_, 8); }

  private:
    HFONT font_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
    int baseX_ = 0;
    int baseY_ = 0;
};

// A child's rectangle in its dialog's client coordinates.
RECT ChildRect(HWND dialog, HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::vector<HWND> Children(HWND dialog) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

std::string Describe(const RECT& r) {
    char text[96];
    snprintf(text, sizeof(text), "(%ld, %ld) %ld x %ld", r.left, r.top, r.right - r.left,
             r.bottom - r.top);
    return text;
}

// The control stands where its template puts it at this font, give or take the rounding of
// one pixel, and its text fits in it.
void ExpectAtTemplatePlace(HWND dialog, HWND control, const TemplateControl& expected,
                           const DialogFont& font) {
    ASSERT_NE(control, nullptr) << "control " << expected.id;
    const RECT r = ChildRect(dialog, control);
    SCOPED_TRACE("control " + std::to_string(expected.id) + " at " + Describe(r));
    EXPECT_NEAR(r.left, font.X(expected.x), 1);
    EXPECT_NEAR(r.top, font.Y(expected.y), 1);
    EXPECT_NEAR(r.right - r.left, font.X(expected.cx), 1);
    EXPECT_NEAR(r.bottom - r.top, font.Y(expected.cy), 1);
    if (expected.text != nullptr) {
        EXPECT_EQ(WindowText(control), expected.text);
        const SIZE text = font.Extent(expected.text);
        EXPECT_LE(text.cx, r.right - r.left) << "the text is cut off";
        EXPECT_LE(text.cy, r.bottom - r.top) << "the text is cut off";
    }
}

// Every child lies inside the client area and on no other child. Controls that touch in the
// template may share a row of pixels: the dialog manager rounds positions and sizes apart.
void ExpectNoOverlap(HWND dialog) {
    RECT client = {};
    GetClientRect(dialog, &client);
    const std::vector<HWND> children = Children(dialog);
    for (size_t i = 0; i < children.size(); ++i) {
        const RECT a = ChildRect(dialog, children[i]);
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= client.right &&
                    a.bottom <= client.bottom)
            << "child " << Describe(a) << " outside the client area " << Describe(client);
        for (size_t j = i + 1; j < children.size(); ++j) {
            const RECT b = ChildRect(dialog, children[j]);
            RECT common = {};
            const bool overlap = IntersectRect(&common, &a, &b) && common.right - common.left > 1 &&
                                 common.bottom - common.top > 1;
            EXPECT_FALSE(overlap) << "children " << Describe(a) << " and " << Describe(b)
                                  << " overlap";
        }
    }
}

// Writes what the screen shows of the window, frame included, as a binary PPM file.
bool SaveScreenshot(HWND window, const std::wstring& name) {
    wchar_t dir[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"KX7_SHOT_DIR", dir, MAX_PATH) == 0) {
        return true;  // not asked for
    }
    RECT r = {};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    bool written = false;
    if (copied && bits != nullptr) {
        const std::wstring path = std::wstring(dir) + L"\\" + name + L".ppm";
        if (FILE* file = _wfopen(path.c_str(), L"wb")) {
            fprintf(file, "P6\n%d %d\n255\n", width, height);
            const auto* pixels = static_cast<const unsigned char*>(bits);
            std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const unsigned char* bgrx = pixels + (static_cast<size_t>(y) * width + x) * 4;
                    row[x * 3] = bgrx[2];
                    row[x * 3 + 1] = bgrx[1];
                    row[x * 3 + 2] = bgrx[0];
                }
                fwrite(row.data(), 1, row.size(), file);
            }
            written = fclose(file) == 0;
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return written;
}

int IconWidth(HICON icon) {
    ICONINFO info = {};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return 0;
    }
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    if (info.hbmColor != nullptr) {
        DeleteObject(info.hbmColor);
    }
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

class DisplayScaleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scale = ScaleUnderTest();
        if (scale == nullptr) {
            GTEST_SKIP() << "run by at_dpi.sh, which sets KX7_DPI to 96, 144 or 192";
        }
        HDC screen = GetDC(nullptr);
        const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        ASSERT_EQ(dpi, scale->dpi) << "the prefix's display is not set to the DPI under test";
    }

    const DisplayScale* scale = nullptr;
};

// The shipped program, started from Explorer and opened from its tray icon after a KX7 arrived.
class ConnectorOnDisplay : public DisplayScaleTest {
  protected:
    void SetUp() override {
        DisplayScaleTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        // No pass on this unregistered PC while the windows are measured.
        ASSERT_TRUE(WriteUserDword(kSettingsKey, L"Interval", 600));
        ASSERT_TRUE(connector.Start(ProgramPath(L"KX7AutoConnector.exe"), L""));
        window = WaitForWindow(kClass, kTitle, connector.pid(), kTimeoutMs);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, kTimeoutMs));
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) == FALSE; }, kTimeoutMs));
        ASSERT_TRUE(SendInterfaceEvent(window, true, kKx7UsbName));
        PostMessageW(window, WM_COMMAND, kOpen, 0);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, kTimeoutMs));
    }
    void TearDown() override {
        connector.Kill();
        DeleteUserKey(kSettingsKey);
    }

    ChildProcess connector;
    HWND window = nullptr;
};

TEST_F(ConnectorOnDisplay, WindowsKeepTheirTemplatesLayoutAtTheDisplaysScale) {
    const DialogFont font(scale->dpi);
    Sleep(500);  // painted

    RECT client = {};
    GetClientRect(window, &client);
    EXPECT_NEAR(client.right, font.X(kMainTemplate.cx), 1);
    EXPECT_NEAR(client.bottom, font.Y(kMainTemplate.cy), 1);
    for (const TemplateControl& control : kMainControls) {
        ExpectAtTemplatePlace(window, GetDlgItem(window, control.id), control, font);
    }
    ExpectNoOverlap(window);
    EXPECT_EQ(ControlText(window, 1004), L"DEMO00000001");
    EXPECT_TRUE(SaveScreenshot(window, L"main-window-" + std::to_wstring(scale->dpi) + L"dpi"));

    // The About box: its icon at the large icon size, beside its texts and clear of them.
    PostMessageW(window, WM_COMMAND, kProgramInfo, 0);
    HWND about = WaitForWindow(L"#32770", kAboutTitle, connector.pid(), kTimeoutMs);
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(about) != FALSE; }, kTimeoutMs));
    Sleep(500);
    GetClientRect(about, &client);
    EXPECT_NEAR(client.right, font.X(kAboutTemplate.cx), 1);
    EXPECT_NEAR(client.bottom, font.Y(kAboutTemplate.cy), 1);
    HWND icon = nullptr;
    std::vector<HWND> texts;
    for (HWND child : Children(about)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            GetDlgCtrlID(child) != IDOK) {
            icon = child;
        } else {
            texts.push_back(child);
        }
    }
    ASSERT_NE(icon, nullptr);
    const RECT iconRect = ChildRect(about, icon);
    EXPECT_NEAR(iconRect.left, font.X(kAboutIconAt.x), 1);
    EXPECT_NEAR(iconRect.top, font.Y(kAboutIconAt.y), 1);
    EXPECT_EQ(iconRect.right - iconRect.left, scale->largeIcon);
    EXPECT_EQ(iconRect.bottom - iconRect.top, scale->largeIcon);
    ASSERT_EQ(texts.size(), 3u);
    for (size_t i = 0; i < texts.size(); ++i) {
        ExpectAtTemplatePlace(about, texts[i], kAboutTexts[i], font);
    }
    ExpectNoOverlap(about);
    EXPECT_TRUE(SaveScreenshot(about, L"about-box-" + std::to_wstring(scale->dpi) + L"dpi"));
    ClickButton(about, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return IsWindow(about) == FALSE; }, kTimeoutMs));

    // A framework box, laid out by the system: its text and buttons clear of each other.
    PostMessageW(window, WM_COMMAND, kExit, 0);
    HWND box = WaitForWindow(L"#32770", kAppName, connector.pid(), kTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(box) != FALSE; }, kTimeoutMs));
    Sleep(500);
    ExpectNoOverlap(box);
    ClickButton(box, IDOK);
    DWORD code = 1234;
    EXPECT_TRUE(connector.WaitExit(kTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
}

// The tray icon and the window's icons, as the program loads them, have the display's sizes.
class TrayIconUnderTest : public CTrayDialog {
  public:
    TrayIconUnderTest() : CTrayDialog(0) {}
    const NOTIFYICONDATAW& record() const { return m_nid; }
};

TEST_F(DisplayScaleTest, IconsAreLoadedAtTheDisplaysSizes) {
    CWinApp app;
    app.m_hInstance = GetModuleHandleW(nullptr);
    HICON smallIcon = app.LoadSmallIconResource(kIconResource);
    EXPECT_EQ(IconWidth(smallIcon), scale->smallIcon);
    DestroyIcon(smallIcon);
    EXPECT_EQ(IconWidth(app.LoadIconResource(kIconResource)), scale->largeIcon);

    TrayIconUnderTest tray;
    tray.SetTrayIcon(kIconResource);
    EXPECT_NE(tray.record().uFlags & NIF_ICON, 0u);
    EXPECT_EQ(IconWidth(tray.record().hIcon), scale->smallIcon);
    // A second call replaces the icon and releases the first.
    HICON first = tray.record().hIcon;
    tray.SetTrayIcon(kIconResource);
    EXPECT_NE(tray.record().hIcon, first);
    EXPECT_EQ(IconWidth(tray.record().hIcon), scale->smallIcon);
    EXPECT_EQ(IconWidth(first), 0) << "the first icon still exists";
}

}  // namespace
}  // namespace kx7::e2e
