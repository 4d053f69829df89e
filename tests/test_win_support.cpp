// Support pieces of quayside-win, driven off-screen: device keys and the
// login cache, the Windows version names, the four-field address entry, the
// dialog templates and the widgets made from them, and the message sink.
#include "dialog_template.h"
#include "ipaddressctrl.h"
#include "login_cache.h"
#include "message_sink.h"
#include "skinlistctrl.h"
#include "support/recording_message_sink.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace qs;
using namespace qs::win;

namespace {

// ---------------------------------------------------------------------------
// Device keys

TEST(DeviceKey, MakesTheDocumentedText) {
    const Uuid8 id = {0x00, 0x1B, 0x7E, 0x02, 0xA0, 0xFF, 0x10, 0x09};
    EXPECT_EQ(MakeDeviceKey(id), "0x00,0x1B,0x7E,0x02,0xA0,0xFF,0x10,0x09");
}

TEST(DeviceKey, ParsesTheDocumentedText) {
    const Uuid8 expected = {0x00, 0x1B, 0x7E, 0x02, 0xA0, 0xFF, 0x10, 0x09};
    EXPECT_EQ(ParseDeviceKey("0x00,0x1B,0x7E,0x02,0xA0,0xFF,0x10,0x09"), expected);
}

TEST(DeviceKey, RoundTripsEveryByteValue) {
    std::mt19937 rng(24680);
    for (int round = 0; round < 200; ++round) {
        Uuid8 id{};
        for (auto& b : id) b = static_cast<std::uint8_t>(rng());
        const std::string key = MakeDeviceKey(id);
        EXPECT_EQ(key.size(), 8u * 4 + 7);
        EXPECT_EQ(ParseDeviceKey(key), id) << key;
    }
    Uuid8 all{};
    for (int v = 0; v < 256; v += 8) {
        for (int i = 0; i < 8; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v + i);
        EXPECT_EQ(ParseDeviceKey(MakeDeviceKey(all)), all);
    }
}

TEST(DeviceKey, MalformedTextStopsReading) {
    // Reading stops at the first item that is not a number; the rest stays 0.
    EXPECT_EQ(ParseDeviceKey("0x01,0x02,zz,0x04,0x05,0x06,0x07,0x08"), (Uuid8{0x01, 0x02, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ParseDeviceKey(""), Uuid8{});
    EXPECT_EQ(ParseDeviceKey("garbage"), Uuid8{});
    // Two separators in a row: the second is where the next number should be.
    EXPECT_EQ(ParseDeviceKey("0x01,,0x03"), (Uuid8{0x01, 0, 0, 0, 0, 0, 0, 0}));
    // A shorter key fills what it has.
    EXPECT_EQ(ParseDeviceKey("0xAA,0xBB"), (Uuid8{0xAA, 0xBB, 0, 0, 0, 0, 0, 0}));
}

TEST(DeviceKey, ReadsLikeTheCLibrary) {
    // Without a prefix, any one-character separator, the low byte of wide
    // numbers, and no more than eight bytes.
    EXPECT_EQ(ParseDeviceKey("1b;7e;2;a0"), (Uuid8{0x1B, 0x7E, 0x02, 0xA0, 0, 0, 0, 0}));
    EXPECT_EQ(ParseDeviceKey("0x1FF,0x100"), (Uuid8{0xFF, 0x00, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ParseDeviceKey("1,2,3,4,5,6,7,8,9,10"), (Uuid8{1, 2, 3, 4, 5, 6, 7, 8}));
}

// ---------------------------------------------------------------------------
// Login cache

TEST(LoginCache, SeedAcceptAndCopyOut) {
    LoginCache cache;
    const std::string key = MakeDeviceKey({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_FALSE(cache.contains(key));
    EXPECT_FALSE(cache.isAccepted(key));

    cache.seed(key);
    EXPECT_TRUE(cache.contains(key));
    EXPECT_FALSE(cache.isAccepted(key));
    Credentials who{"old user", "old password"};
    EXPECT_TRUE(cache.copyOut(key, who));
    EXPECT_EQ(who.user, "");  // a seeded entry holds empty texts
    EXPECT_EQ(who.password, "");

    cache.accept(key, "admin", "secret");
    EXPECT_TRUE(cache.isAccepted(key));
    EXPECT_TRUE(cache.copyOut(key, who));
    EXPECT_EQ(who.user, "admin");
    EXPECT_EQ(who.password, "secret");

    // Seeding again (a new search) forgets the login.
    cache.seed(key);
    EXPECT_FALSE(cache.isAccepted(key));
    EXPECT_EQ(cache.size(), 1u);
    cache.clear();
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_FALSE(cache.isAccepted(key));
}

TEST(LoginCache, AbsentKeyLeavesTheBuffers) {
    LoginCache cache;
    cache.seed("0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08");
    cache.accept("0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08", "admin", "pw");
    Credentials who{"keep me", "keep me too"};
    EXPECT_FALSE(cache.copyOut("0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00", who));
    EXPECT_EQ(who.user, "keep me");
    EXPECT_EQ(who.password, "keep me too");
}

TEST(LoginCache, CopyOutCutsToTheBuffer) {
    LoginCache cache;
    const std::string longUser(100, 'u');
    const std::string longPassword(70, 'p');
    cache.accept("k", longUser, longPassword);
    Credentials who;
    ASSERT_TRUE(cache.copyOut("k", who));
    // A 64-byte field keeps its terminating NUL.
    EXPECT_EQ(who.user, longUser.substr(0, 63));
    EXPECT_EQ(who.password, longPassword.substr(0, 63));
}

// ---------------------------------------------------------------------------
// Windows version names

TEST(WindowsVersion, Table) {
    constexpr unsigned W = OsVersionInfo::Windows, N = OsVersionInfo::NT, C = OsVersionInfo::CE,
                       S = OsVersionInfo::Win32s;
    struct Row {
        unsigned platform, major, minor, build;
        const char* name;
        int code;
    };
    const char* unknown = "unknown Windows version";
    const Row rows[] = {
        // 95 family, minor below 10
        {W, 4, 0, 949, unknown, 0},
        {W, 4, 0, 950, "Windows 95", 1},
        {W, 4, 9, 950, "Windows 95", 1},
        {W, 4, 0, 951, "Windows 95 SP1", 2},
        {W, 4, 0, 1080, "Windows 95 SP1", 2},
        {W, 4, 0, 1081, "Windows 95 OSR2", 3},
        {W, 4, 3, 1212, "Windows 95 OSR2", 3},
        // the high word of the build (major and minor there) does not count
        {W, 4, 0, 0x040003B6u, "Windows 95", 1},           // 950
        {W, 4, 0, 0x04000439u, "Windows 95 OSR2", 3},      // 1081
        {W, 4, 10, 0x040A08AEu, "Windows 98 SE", 6},       // 2222
        {W, 4, 10, 0x040A07CEu, "Windows 98", 4},          // 1998
        {W, 4, 0, 0x00010000u, unknown, 0},                // low word 0
        // 95 family, minor 10
        {W, 4, 10, 1997, unknown, 0},
        {W, 4, 10, 1998, "Windows 98", 4},
        {W, 4, 10, 1999, "Windows 98 SP1", 5},
        {W, 4, 10, 2182, "Windows 98 SP1", 5},
        {W, 4, 10, 2183, "Windows 98 SE", 6},
        {W, 4, 10, 2222, "Windows 98 SE", 6},
        // 95 family, minor 90, and the gaps
        {W, 4, 90, 0, "Windows ME", 7},
        {W, 4, 90, 3000, "Windows ME", 7},
        {W, 4, 11, 2222, unknown, 0},
        {W, 4, 89, 3000, unknown, 0},
        {W, 5, 0, 2222, unknown, 0},
        // NT family
        {N, 3, 51, 1057, "Windows NT 3.51", 101},
        {N, 3, 50, 807, unknown, 0},
        {N, 4, 0, 1381, "Windows NT 4", 102},
        {N, 4, 10, 1381, unknown, 0},
        {N, 5, 0, 2195, "Windows 2000", 103},
        {N, 5, 1, 2600, "Windows XP", 104},
        {N, 5, 2, 3790, unknown, 0},
        {N, 6, 0, 6000, "Vista", 0},
        {N, 6, 1, 7601, "Vista", 0},
        {N, 6, 3, 9600, "Vista", 0},
        {N, 10, 0, 19045, unknown, 0},
        // CE and Win32s
        {C, 5, 0, 0, "Windows CE", 201},
        {C, 0, 0, 0, "Windows CE", 201},
        {S, 1, 30, 0, unknown, 0},
        {7, 4, 10, 2222, unknown, 0},
    };
    for (const Row& r : rows) {
        std::string name = "left over";
        int code = -1;
        const int result = GetWindowsVersionName(name, code, [&](OsVersionInfo& v) {
            v.platform = r.platform;
            v.major = r.major;
            v.minor = r.minor;
            v.build = r.build;
            return true;
        });
        EXPECT_EQ(result, 1) << r.platform << " " << r.major << "." << r.minor << " build " << r.build;
        EXPECT_EQ(name, r.name) << r.platform << " " << r.major << "." << r.minor << " build " << r.build;
        EXPECT_EQ(code, r.code) << r.platform << " " << r.major << "." << r.minor << " build " << r.build;
    }

    // A failing query: unknown, code 0, result 0; the system's query here fails.
    for (const VersionQuery& failing : {VersionQuery([](OsVersionInfo&) { return false; }), systemVersionQuery()}) {
        std::string name = "left over";
        int code = 42;
        EXPECT_EQ(GetWindowsVersionName(name, code, failing), 0);
        EXPECT_EQ(name, "unknown Windows version");
        EXPECT_EQ(code, 0);
    }
}

TEST(LoggedOnUser, IsNamedAndShort) {
    const std::string user = loggedOnUserName();
    EXPECT_FALSE(user.empty());
    EXPECT_LE(user.size(), 128u);
}

// ---------------------------------------------------------------------------
// The address field

// A shown, active window holding one address field, so focus moves like it
// does for a user.
struct AddressFixture : ::testing::Test {
    QWidget window;
    CIPAddressCtrl* ctrl = nullptr;
    QLineEdit* other = nullptr;

    void SetUp() override {
        ctrl = new CIPAddressCtrl(&window);
        ctrl->setGeometry(10, 10, 150, 23);
        other = new QLineEdit(&window);
        other->setGeometry(10, 50, 100, 20);
        window.resize(200, 100);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // Types into whichever widget has the focus, one key at a time.
    static void type(const char* keys) {
        for (const char* k = keys; *k; ++k) {
            QWidget* target = QApplication::focusWidget();
            ASSERT_NE(target, nullptr);
            QTest::keyClick(target, *k);
        }
    }
    int focusedField() const {
        for (int i = 0; i < 4; ++i)
            if (ctrl->field(i)->hasFocus()) return i;
        return -1;
    }
};

TEST_F(AddressFixture, SetAndReadBack) {
    ctrl->SetAddress(QStringLiteral("192.168.1.20"));
    EXPECT_EQ(ctrl->text(), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(ctrl->fieldText(0), QStringLiteral("192"));
    EXPECT_EQ(ctrl->fieldText(3), QStringLiteral("20"));
    std::uint8_t a = 9, b = 9, c = 9, d = 9;
    EXPECT_EQ(ctrl->GetAddress(a, b, c, d), 4);
    EXPECT_EQ(std::vector<int>({a, b, c, d}), std::vector<int>({192, 168, 1, 20}));
    EXPECT_FALSE(ctrl->IsBlank());

    ctrl->SetAddress(10, 0, 255, 1);
    EXPECT_EQ(ctrl->text(), QStringLiteral("10.0.255.1"));
    ctrl->SetAddress(QStringLiteral("0.0.0.0"));
    EXPECT_EQ(ctrl->text(), QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(ctrl->IsBlank());  // zeros are not blank
}

TEST_F(AddressFixture, InvalidTextClears) {
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.1000", "a.b.c.d", "1..2.3", " 1.2.3.4",
                            "1.2.3.4 ", "-1.2.3.4", "1,2,3,4"}) {
        ctrl->SetAddress(QStringLiteral("9.9.9.9"));
        ctrl->SetAddress(QString::fromLatin1(bad));
        EXPECT_TRUE(ctrl->IsBlank()) << bad;
        EXPECT_EQ(ctrl->text(), QString()) << bad;
    }
}

TEST_F(AddressFixture, BlankAndPartlyFilled) {
    EXPECT_TRUE(ctrl->IsBlank());
    EXPECT_EQ(ctrl->text(), QString());
    std::uint8_t a = 9, b = 9, c = 9, d = 9;
    EXPECT_EQ(ctrl->GetAddress(a, b, c, d), 0);
    EXPECT_EQ(std::vector<int>({a, b, c, d}), std::vector<int>({0, 0, 0, 0}));

    ctrl->field(0)->setText(QStringLiteral("10"));
    ctrl->field(2)->setText(QStringLiteral("7"));
    EXPECT_FALSE(ctrl->IsBlank());
    EXPECT_EQ(ctrl->GetAddress(a, b, c, d), 2);
    EXPECT_EQ(std::vector<int>({a, b, c, d}), std::vector<int>({10, 0, 7, 0}));
    EXPECT_EQ(ctrl->text(), QStringLiteral("10.0.7.0"));

    ctrl->ClearAddress();
    EXPECT_TRUE(ctrl->IsBlank());
}

TEST_F(AddressFixture, TypingMovesOnAfterThreeDigitsAndOnADot) {
    QSignalSpy changed(ctrl, &CIPAddressCtrl::addressChanged);
    ctrl->SetFieldFocus(0);
    EXPECT_EQ(focusedField(), 0);
    type("192");
    EXPECT_EQ(focusedField(), 1);  // the third digit moved on
    type(".");                     // a dot in the empty field does nothing
    EXPECT_EQ(focusedField(), 1);
    type("168");
    EXPECT_EQ(focusedField(), 2);
    type("1.");
    EXPECT_EQ(focusedField(), 3);  // a dot after one digit moves on
    type("20");
    EXPECT_EQ(ctrl->text(), QStringLiteral("192.168.1.20"));
    EXPECT_GE(changed.count(), 9);

    // Only digits, at most three.
    ctrl->ClearAddress();
    ctrl->SetFieldFocus(3);
    type("a1-2 34");
    EXPECT_EQ(ctrl->fieldText(3), QStringLiteral("123"));
    EXPECT_EQ(focusedField(), 3);  // the last field keeps the focus
}

TEST_F(AddressFixture, MovingOnSelectsTheNextField) {
    ctrl->SetAddress(QStringLiteral("1.2.3.4"));
    ctrl->SetFieldFocus(0);
    type("10.");
    EXPECT_EQ(focusedField(), 1);
    EXPECT_EQ(ctrl->field(1)->selectedText(), QStringLiteral("2"));
    type("99");  // replaces the selected text
    EXPECT_EQ(ctrl->text(), QStringLiteral("10.99.3.4"));
}

TEST_F(AddressFixture, BackspaceInAnEmptyFieldGoesBack) {
    ctrl->SetFieldFocus(0);
    type("12.");
    EXPECT_EQ(focusedField(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(focusedField(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(ctrl->fieldText(0), QStringLiteral("1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(focusedField(), 0);  // nowhere further back
    EXPECT_TRUE(ctrl->IsBlank());
}

TEST_F(AddressFixture, ValuesAbove255AreCorrected) {
    // Typed: corrected when the third digit moves on.
    ctrl->SetFieldFocus(0);
    type("300");
    EXPECT_EQ(ctrl->fieldText(0), QStringLiteral("255"));
    EXPECT_EQ(focusedField(), 1);

    // Typed into the last field: read as 255 at once, corrected on leaving.
    ctrl->SetFieldFocus(3);
    type("999");
    std::uint8_t a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(ctrl->GetAddress(a, b, c, d), 2);
    EXPECT_EQ(d, 255);
    EXPECT_EQ(ctrl->text(), QStringLiteral("255.0.0.255"));
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(ctrl->fieldText(3), QStringLiteral("255"));

    // Set directly: still read as 255.
    ctrl->field(1)->setText(QStringLiteral("256"));
    EXPECT_EQ(ctrl->text(), QStringLiteral("255.255.0.255"));
}

TEST_F(AddressFixture, DisablingCoversAllFields) {
    ctrl->setEnabled(false);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(ctrl->field(i)->isEnabled()) << i;
    ctrl->setEnabled(true);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(ctrl->field(i)->isEnabled()) << i;
}

TEST_F(AddressFixture, FitsItsTemplateRectangle) {
    // 100 x 13 dialog units.
    EXPECT_EQ(dluToPixels(QSize(100, 13)), QSize(150, 23));
    EXPECT_LE(ctrl->minimumSizeHint().width(), 150);
    EXPECT_LE(ctrl->minimumSizeHint().height(), 23);
    for (int i = 0; i < 4; ++i) {
        const QRect r = ctrl->field(i)->geometry();
        EXPECT_GT(r.width(), 10) << i;
        EXPECT_GT(r.height(), 10) << i;
    }
    EXPECT_LT(ctrl->field(0)->mapTo(ctrl, QPoint(0, 0)).x(), ctrl->field(1)->mapTo(ctrl, QPoint(0, 0)).x());
}

// ---------------------------------------------------------------------------
// Dialog templates

TEST(DialogUnits, RoundLikeThePlatform) {
    EXPECT_EQ(dluToPixels(QSize(287, 344)), QSize(431, 602));  // 430.5 rounds up
    EXPECT_EQ(dluToPixels(QSize(205, 84)), QSize(308, 147));   // 307.5, 147
    EXPECT_EQ(dluToPixels(QRect(14, 44, 179, 61)), QRect(21, 77, 269, 107));  // 268.5, 106.75
    EXPECT_EQ(dluToPixels(QRect(1, 1, 3, 5)), QRect(2, 2, 5, 9));             // 1.5, 1.75, 4.5, 8.75
    EXPECT_EQ(dluToPixels(QRect(0, 0, 0, 0)), QRect(0, 0, 0, 0));
    EXPECT_EQ(dluToPixels(QRect(4, 8, 4, 8)), QRect(6, 14, 6, 14));
    EXPECT_EQ(dluToPixels(QSize(1, 3)), QSize(2, 5));  // 1.5, 5.25
}

struct Expect {
    int id;
    const char* kind;
    QRect dlu;
};

// The main window's controls.
const Expect kMainControls[] = {
    {1000, "listview", {14, 44, 179, 61}},  {1002, "button", {211, 44, 68, 16}},
    {1008, "button", {211, 64, 68, 16}},    {1016, "combo", {50, 145, 228, 49}},
    {1006, "ipaddress", {50, 161, 100, 13}}, {1015, "combo", {219, 161, 59, 49}},
    {1010, "ipaddress", {50, 177, 100, 13}}, {1007, "button", {211, 180, 68, 16}},
    {1011, "ipaddress", {50, 193, 100, 13}}, {1001, "listview", {14, 236, 157, 61}},
    {1013, "combo", {195, 247, 84, 110}},   {1003, "button", {211, 265, 68, 16}},
    {1004, "button", {211, 285, 68, 16}},   {1021, "button", {133, 324, 68, 16}},
    {1009, "button", {211, 324, 68, 16}},   {1027, "button", {258, 3, 12, 10}},
    {1028, "button", {271, 3, 12, 10}},
};

TEST(DialogTemplates, AllThreeLoadFromTheEmbeddedResources) {
    for (int id : {102, 134, 308}) {
        QString error;
        const auto t = loadDialogTemplate(id, &error);
        ASSERT_TRUE(t.has_value()) << id << ": " << error.toStdString();
        EXPECT_EQ(t->id, id);
        EXPECT_EQ(t->font, QStringLiteral("Arial"));
        EXPECT_EQ(t->pointSize, 8);
        EXPECT_FALSE(t->controls.empty());
    }
    QString error;
    EXPECT_FALSE(loadDialogTemplate(999, &error).has_value());
    EXPECT_TRUE(error.contains(QStringLiteral("999"))) << error.toStdString();
}

TEST(DialogTemplates, MainWindowHoldsEveryControl) {
    const auto t = loadDialogTemplate(102);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->size, QSize(287, 344));
    EXPECT_TRUE(t->style.contains(QStringLiteral("popup")));
    EXPECT_FALSE(t->style.contains(QStringLiteral("caption")));
    EXPECT_FALSE(t->style.contains(QStringLiteral("border")));
    EXPECT_FALSE(t->style.contains(QStringLiteral("sysMenu")));

    std::map<int, const ControlSpec*> byId;
    std::map<QString, QRect> statics;
    for (const ControlSpec& c : t->controls) {
        if (c.id >= 0)
            byId[c.id] = &c;
        else
            statics[c.text] = c.rect;
    }
    for (const Expect& e : kMainControls) {
        ASSERT_TRUE(byId.count(e.id)) << e.id;
        const ControlSpec& c = *byId[e.id];
        EXPECT_EQ(c.kind, QLatin1String(e.kind)) << e.id;
        EXPECT_EQ(c.rect, e.dlu) << e.id;
        if (c.kind == QLatin1String("button")) {
            EXPECT_TRUE(c.text.isEmpty()) << e.id;  // the captions are in the pictures
            EXPECT_FALSE(c.style.contains(QStringLiteral("hidden"))) << e.id;
        }
    }
    for (int hidden : {1022, 1025, 1032}) {
        ASSERT_TRUE(byId.count(hidden)) << hidden;
        EXPECT_EQ(byId[hidden]->kind, QStringLiteral("button"));
        EXPECT_TRUE(byId[hidden]->style.contains(QStringLiteral("hidden"))) << hidden;
    }
    EXPECT_EQ(byId.size(), std::size(kMainControls) + 3);
    for (int list : {1000, 1001})
        for (const char* s : {"report", "singleSelection", "showSelAlways", "border"})
            EXPECT_TRUE(byId[list]->style.contains(QLatin1String(s))) << list << " " << s;
    EXPECT_EQ(byId[1015]->items, QStringList({QStringLiteral("Disable"), QStringLiteral("Enable")}));

    const std::map<QString, QPoint> labels = {
        {QStringLiteral("Interface :"), {14, 147}}, {QStringLiteral("I P :"), {14, 164}},
        {QStringLiteral("Receive DHCP :"), {165, 163}}, {QStringLiteral("Netmask :"), {14, 180}},
        {QStringLiteral("Gateway :"), {14, 196}}, {QStringLiteral("Available Drive Letters :"), {195, 235}},
    };
    EXPECT_EQ(statics.size(), labels.size());
    for (const auto& [text, at] : labels) {
        ASSERT_TRUE(statics.count(text)) << text.toStdString();
        EXPECT_EQ(statics[text].topLeft(), at) << text.toStdString();
    }
}

TEST(DialogTemplates, LoginAndAbout) {
    const auto login = loadDialogTemplate(134);
    ASSERT_TRUE(login);
    EXPECT_EQ(login->caption, QStringLiteral("Login"));
    EXPECT_EQ(login->size, QSize(205, 84));
    std::map<int, const ControlSpec*> byId;
    QStringList texts;
    for (const ControlSpec& c : login->controls) {
        if (c.id >= 0) byId[c.id] = &c;
        if (c.kind == QLatin1String("static")) texts << c.text;
    }
    EXPECT_EQ(texts, QStringList({QStringLiteral("User name :"), QStringLiteral("Password :")}));
    ASSERT_TRUE(byId.count(1016) && byId.count(1017) && byId.count(1) && byId.count(2));
    EXPECT_EQ(byId[1016]->rect, QRect(60, 26, 69, 14));
    EXPECT_EQ(byId[1016]->limit, 16);
    EXPECT_FALSE(byId[1016]->style.contains(QStringLiteral("password")));
    EXPECT_EQ(byId[1017]->rect, QRect(60, 47, 69, 14));
    EXPECT_EQ(byId[1017]->limit, 16);
    EXPECT_TRUE(byId[1017]->style.contains(QStringLiteral("password")));
    EXPECT_EQ(byId[1]->rect, QRect(135, 26, 62, 16));
    EXPECT_EQ(byId[2]->rect, QRect(135, 46, 62, 16));
    EXPECT_TRUE(byId[1]->text.isEmpty());
    EXPECT_TRUE(byId[2]->text.isEmpty());

    const auto about = loadDialogTemplate(308);
    ASSERT_TRUE(about);
    QStringList aboutTexts;
    int icons = 0;
    for (const ControlSpec& c : about->controls) {
        if (c.kind == QLatin1String("static")) aboutTexts << c.text;
        if (c.kind == QLatin1String("icon")) ++icons;
    }
    EXPECT_EQ(icons, 1);
    EXPECT_TRUE(aboutTexts.contains(QStringLiteral("Tarnex Storage Utility")));
    EXPECT_TRUE(aboutTexts.contains(QStringLiteral("Version : 5.2.1.4")));
}

// Expects parsing to fail with a message that names `field`.
void expectRejected(const char* json, const char* field) {
    QString error;
    EXPECT_FALSE(parseDialogTemplate(QByteArray(json), &error).has_value()) << json;
    EXPECT_TRUE(error.contains(QLatin1String(field))) << "error \"" << error.toStdString() << "\" for " << json;
}

TEST(DialogTemplates, MalformedJsonNamesTheField) {
    const char* ok = R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "kind": "button", "rect": [1, 2, 3, 4]}]})";
    ASSERT_TRUE(parseDialogTemplate(QByteArray(ok)).has_value());

    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [)", "JSON");
    expectRejected(R"([1, 2])", "object");
    expectRejected(R"({"size": [10, 20], "controls": []})", "id");
    expectRejected(R"({"id": "5", "size": [10, 20], "controls": []})", "id");
    expectRejected(R"({"id": 5, "controls": []})", "size");
    expectRejected(R"({"id": 5, "size": [10], "controls": []})", "size");
    expectRejected(R"({"id": 5, "size": [10, 20]})", "controls");
    expectRejected(R"({"id": 5, "size": [10, 20], "caption": 3, "controls": []})", "caption");
    expectRejected(R"({"id": 5, "size": [10, 20], "style": "popup", "controls": []})", "style");
    expectRejected(R"({"id": 5, "size": [10, 20], "colour": 1, "controls": []})", "colour");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "kind": "button", "rect": [1, 2, 3, 4]},
                      {"id": 2, "kind": "button", "rect": [1, 2, 3]}]})",
                   "controls[1].rect");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "kind": "button", "rect": [1, 2, 3.5, 4]}]})",
                   "controls[0].rect[2]");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "kind": "slider", "rect": [1, 2, 3, 4]}]})",
                   "controls[0].kind");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "rect": [1, 2, 3, 4]}]})",
                   "controls[0].kind");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"kind": "edit", "rect": [1, 2, 3, 4]}]})",
                   "controls[0].id");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "kind": "edit", "rect": [1, 2, 3, 4]},
                      {"id": 1, "kind": "edit", "rect": [1, 2, 3, 4]}]})",
                   "controls[1].id");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "kind": "edit", "rect": [1, 2, 3, 4], "limit": "16"}]})",
                   "controls[0].limit");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "kind": "combo", "rect": [1, 2, 3, 4], "items": ["a", 2]}]})",
                   "controls[0].items[1]");
    expectRejected(R"({"id": 5, "size": [10, 20], "controls": [{"id": 1, "kind": "combo", "rect": [1, 2, 3, 4], "tekst": "a"}]})",
                   "controls[0].tekst");
}

TEST(DialogTemplates, ParsedFieldsAndDefaults) {
    const auto t = parseDialogTemplate(QByteArray(R"({
        "id": 7, "size": [100, 50],
        "controls": [
          {"kind": "static", "text": "Hello", "rect": [1, 2, 0, 0]},
          {"id": 3, "kind": "edit", "rect": [5, 6, 7, 8], "limit": 12, "style": ["password", "disabled"]},
          {"id": 4, "kind": "combo", "rect": [5, 6, 7, 8], "items": ["x", "y"]}
        ]})"));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->font, QStringLiteral("Arial"));
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_TRUE(t->caption.isEmpty());
    ASSERT_EQ(t->controls.size(), 3u);
    EXPECT_EQ(t->controls[0].id, -1);
    EXPECT_EQ(t->controls[0].text, QStringLiteral("Hello"));
    EXPECT_EQ(t->controls[0].rect, QRect(1, 2, 0, 0));
    EXPECT_EQ(t->controls[1].limit, 12);
    EXPECT_EQ(t->controls[1].style, QStringList({QStringLiteral("password"), QStringLiteral("disabled")}));
    EXPECT_EQ(t->controls[2].items, QStringList({QStringLiteral("x"), QStringLiteral("y")}));
}

// The next widget after `from` in the focus chain that tabbing can reach.
QWidget* nextTabStop(QWidget* from) {
    for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy()) return w;
    return nullptr;
}

TEST(BuildDialog, MainWindowWidgets) {
    const auto t = loadDialogTemplate(102);
    ASSERT_TRUE(t);
    QDialog dialog;
    const DialogControls controls = buildDialog(&dialog, *t);
    EXPECT_EQ(dialog.size(), QSize(431, 602));
    EXPECT_EQ(dialog.minimumSize(), QSize(431, 602));
    EXPECT_EQ(dialog.maximumSize(), QSize(431, 602));

    for (const Expect& e : kMainControls) {
        QWidget* w = controls.control(e.id);
        ASSERT_NE(w, nullptr) << e.id;
        EXPECT_EQ(w->parentWidget(), &dialog) << e.id;
        EXPECT_EQ(w->objectName(), QStringLiteral("control_%1").arg(e.id));
        const QRect px = dluToPixels(e.dlu);
        const QString kind = QLatin1String(e.kind);
        if (kind == QLatin1String("combo")) {
            // The closed box: the template's height is the dropped list's.
            EXPECT_EQ(w->geometry().topLeft(), px.topLeft()) << e.id;
            EXPECT_EQ(w->width(), px.width()) << e.id;
            EXPECT_LT(w->height(), px.height()) << e.id;
            EXPECT_NE(qobject_cast<QComboBox*>(w), nullptr) << e.id;
        } else {
            EXPECT_EQ(w->geometry(), px) << e.id;
        }
        if (kind == QLatin1String("listview")) {
            EXPECT_NE(qobject_cast<skin::CSkinListCtrl*>(w), nullptr) << e.id;
        }
        if (kind == QLatin1String("ipaddress")) {
            EXPECT_NE(qobject_cast<CIPAddressCtrl*>(w), nullptr) << e.id;
        }
        if (kind == QLatin1String("button")) {
            auto* b = qobject_cast<QPushButton*>(w);
            ASSERT_NE(b, nullptr) << e.id;
            EXPECT_TRUE(b->text().isEmpty()) << e.id;
            EXPECT_FALSE(b->isHidden()) << e.id;
        }
    }
    // Spot checks in pixels.
    EXPECT_EQ(controls.control(1000)->geometry(), QRect(21, 77, 269, 107));
    EXPECT_EQ(controls.control(1006)->geometry(), QRect(75, 282, 150, 23));
    EXPECT_EQ(controls.control(1028)->geometry(), QRect(407, 5, 18, 18));

    for (int hidden : {1022, 1025, 1032}) {
        QWidget* w = controls.control(hidden);
        ASSERT_NE(qobject_cast<QPushButton*>(w), nullptr) << hidden;
        EXPECT_TRUE(w->isHidden()) << hidden;
    }
    auto* dhcp = controls.get<QComboBox>(1015);
    ASSERT_NE(dhcp, nullptr);
    EXPECT_FALSE(dhcp->isEditable());
    ASSERT_EQ(dhcp->count(), 2);
    EXPECT_EQ(dhcp->itemText(0), QStringLiteral("Disable"));
    EXPECT_EQ(dhcp->itemText(1), QStringLiteral("Enable"));
    EXPECT_EQ(controls.get<QComboBox>(1016)->count(), 0);

    ASSERT_EQ(controls.statics.size(), 6);
    const QStringList texts = {QStringLiteral("Interface :"), QStringLiteral("I P :"),
                               QStringLiteral("Receive DHCP :"), QStringLiteral("Netmask :"),
                               QStringLiteral("Gateway :"), QStringLiteral("Available Drive Letters :")};
    for (int i = 0; i < 6; ++i) {
        auto* label = qobject_cast<QLabel*>(controls.statics.at(i));
        ASSERT_NE(label, nullptr) << i;
        EXPECT_EQ(label->text(), texts.at(i));
        EXPECT_EQ(label->objectName(), QStringLiteral("static_%1").arg(i));
        EXPECT_FALSE(label->autoFillBackground());
        EXPECT_EQ(label->size(), label->sizeHint()) << i;  // width and height 0: as the text needs
    }
    EXPECT_EQ(controls.statics.at(0)->pos(), dluToPixels(QRect(14, 147, 0, 0)).topLeft());

    // Tab order is template order.
    const int order[] = {1000, 1002, 1008, 1016, 1006, 1015, 1010, 1007, 1011,
                         1001, 1013, 1003, 1004, 1021, 1009, 1027, 1028};
    auto first = [&](int id) -> QWidget* {
        QWidget* w = controls.control(id);
        if (auto* a = qobject_cast<CIPAddressCtrl*>(w)) return a->field(0);
        return w;
    };
    auto last = [&](int id) -> QWidget* {
        QWidget* w = controls.control(id);
        if (auto* a = qobject_cast<CIPAddressCtrl*>(w)) return a->field(3);
        return w;
    };
    for (std::size_t i = 1; i < std::size(order); ++i)
        EXPECT_EQ(nextTabStop(last(order[i - 1])), first(order[i])) << order[i - 1] << " -> " << order[i];
    auto* address = controls.get<CIPAddressCtrl>(1006);
    for (int f = 1; f < 4; ++f) EXPECT_EQ(nextTabStop(address->field(f - 1)), address->field(f));
}

TEST(BuildDialog, LoginWidgets) {
    const auto t = loadDialogTemplate(134);
    ASSERT_TRUE(t);
    QDialog dialog;
    const DialogControls controls = buildDialog(&dialog, *t);
    EXPECT_EQ(dialog.size(), QSize(308, 147));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Login"));
    auto* user = controls.get<QLineEdit>(1016);
    auto* password = controls.get<QLineEdit>(1017);
    ASSERT_TRUE(user && password);
    EXPECT_EQ(user->maxLength(), 16);
    EXPECT_EQ(password->maxLength(), 16);
    EXPECT_EQ(user->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    QTest::keyClicks(user, QStringLiteral("abcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ(user->text(), QStringLiteral("abcdefghijklmnop"));
    ASSERT_NE(controls.get<QPushButton>(1), nullptr);
    ASSERT_NE(controls.get<QPushButton>(2), nullptr);
    EXPECT_EQ(controls.control(1)->geometry(), dluToPixels(QRect(135, 26, 62, 16)));
    EXPECT_EQ(nextTabStop(user), password);
    EXPECT_EQ(nextTabStop(password), controls.control(1));
    EXPECT_EQ(nextTabStop(controls.control(1)), controls.control(2));
    ASSERT_EQ(controls.statics.size(), 2);
    EXPECT_EQ(qobject_cast<QLabel*>(controls.statics.at(0))->text(), QStringLiteral("User name :"));
    EXPECT_EQ(qobject_cast<QLabel*>(controls.statics.at(1))->text(), QStringLiteral("Password :"));
}

TEST(BuildDialog, AboutWidgets) {
    const auto t = loadDialogTemplate(308);
    ASSERT_TRUE(t);
    QDialog dialog;
    const DialogControls controls = buildDialog(&dialog, *t);
    EXPECT_EQ(dialog.size(), dluToPixels(t->size));
    ASSERT_NE(controls.get<QPushButton>(1), nullptr);
    EXPECT_TRUE(controls.get<QPushButton>(1)->text().isEmpty());
    bool icon = false;
    QStringList texts;
    for (QWidget* w : controls.statics) {
        auto* label = qobject_cast<QLabel*>(w);
        ASSERT_NE(label, nullptr);
        if (!label->pixmap().isNull()) {
            icon = true;
            EXPECT_EQ(label->size(), QSize(32, 32));
        } else {
            texts << label->text();
        }
    }
    EXPECT_TRUE(icon);
    EXPECT_EQ(texts, QStringList({QStringLiteral("Tarnex Storage Utility"), QStringLiteral("Version : 5.2.1.4")}));
    // Everything fits in the box.
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(dialog.rect().contains(w->geometry())) << w->objectName().toStdString();
}

TEST(BuildDialog, StylesHiddenDisabledAndSizedStatics) {
    const auto t = parseDialogTemplate(QByteArray(R"({
        "id": 9, "size": [100, 60],
        "controls": [
          {"kind": "static", "text": "Fixed", "rect": [2, 2, 40, 10]},
          {"kind": "static", "text": "Wide only", "rect": [2, 14, 40, 0]},
          {"id": 10, "kind": "edit", "rect": [2, 30, 40, 12], "style": ["disabled"]},
          {"id": 11, "kind": "button", "text": "Go", "rect": [50, 30, 40, 12], "style": ["hidden"]},
          {"id": 12, "kind": "ipaddress", "rect": [2, 44, 60, 12], "style": ["disabled"]},
          {"id": 13, "kind": "edit", "rect": [50, 2, 40, 12]}
        ]})"));
    ASSERT_TRUE(t);
    QDialog dialog;
    const DialogControls c = buildDialog(&dialog, *t);
    EXPECT_EQ(c.statics.at(0)->geometry(), dluToPixels(QRect(2, 2, 40, 10)));
    EXPECT_EQ(c.statics.at(1)->width(), 60);
    EXPECT_EQ(c.statics.at(1)->height(), c.statics.at(1)->sizeHint().height());
    EXPECT_FALSE(c.control(10)->isEnabled());
    EXPECT_TRUE(c.control(11)->isHidden());
    EXPECT_EQ(c.get<QPushButton>(11)->text(), QStringLiteral("Go"));
    EXPECT_FALSE(c.get<CIPAddressCtrl>(12)->field(2)->isEnabled());
    EXPECT_TRUE(c.control(13)->isEnabled());
    EXPECT_EQ(c.get<QLineEdit>(13)->maxLength(), 32767);  // no limit given
    EXPECT_EQ(c.ids(), QList<int>({10, 11, 12, 13}));
    EXPECT_EQ(c.control(99), nullptr);
}

// ---------------------------------------------------------------------------
// Messages

TEST(Messages, RecordingSinkReplacesTheBoxes) {
    auto recorder = std::make_unique<RecordingMessageSink>();
    RecordingMessageSink* rec = recorder.get();
    setMessageSink(std::move(recorder));
    EXPECT_EQ(&messageSink(), rec);
    messageSink().show(nullptr, QStringLiteral("Wrong administrator password input!"), kCaptionError,
                       MessageIcon::Error);
    messageSink().show(nullptr, QStringLiteral("Device is no longer available."), kCaptionWarning,
                       MessageIcon::Warning);
    ASSERT_EQ(rec->messages.size(), 2u);
    EXPECT_EQ(rec->messages[0].text, QStringLiteral("Wrong administrator password input!"));
    EXPECT_EQ(rec->messages[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(rec->messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(rec->messages[1].caption, QStringLiteral("Warning"));
    EXPECT_EQ(rec->messages[1].icon, MessageIcon::Warning);

    // Nothing given: message boxes again.
    setMessageSink(nullptr);
    EXPECT_NE(dynamic_cast<QtMessageSink*>(&messageSink()), nullptr);
}

TEST(Messages, QtSinkShowsAModalBoxWithOneOkButton) {
    QWidget parent;
    parent.show();
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
        bool ok = false;
        bool modal = false;
        QWidget* parent = nullptr;
    };
    const std::pair<MessageIcon, QMessageBox::Icon> cases[] = {{MessageIcon::Error, QMessageBox::Critical},
                                                               {MessageIcon::Warning, QMessageBox::Warning},
                                                               {MessageIcon::Question, QMessageBox::Question}};
    for (const auto& [icon, expected] : cases) {
        Seen seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.buttons = static_cast<int>(box->buttons().size());
            seen.ok = box->button(QMessageBox::Ok) != nullptr;
            seen.modal = box->isModal();
            seen.parent = box->parentWidget();
            box->button(QMessageBox::Ok)->click();
        });
        QtMessageSink().show(&parent, QStringLiteral("Are you sure?"), kCaptionConfirm, icon);
        EXPECT_EQ(seen.title, QStringLiteral("Confirm"));
        EXPECT_EQ(seen.text, QStringLiteral("Are you sure?"));
        EXPECT_EQ(seen.icon, expected);
        EXPECT_EQ(seen.buttons, 1);
        EXPECT_TRUE(seen.ok);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.parent, &parent);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
