#include "app/about_window.h"

#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/recording_url_opener.h"
#include "platform/fakes/scripted_alerts.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

struct AboutRig {
    explicit AboutRig(const QString& language) { settings.setString(u"appLanguage"_s, language); }
    InMemorySettingsStore settings;
    FixedUiLanguages languages;
    ScriptedAlerts alerts;
    RecordingUrlOpener urls;
    LinkAlerts links{alerts, urls};
    void show() { links.show(aboutAlert(LocalizedStrings{settings, languages})); }
};

// Only the three link buttons open anything, however else the dialog ends.
TEST(AboutWindow, TextsButtonsAndLinksInBothLanguages) {
    const std::vector<AlertSpec> specs = {
        {u"About Quillet"_s,
         u"Version: 1.0\n© 2026 Tarnwick\n\nSimple utility for easier data entry."_s,
         AlertStyle::Informational,
         {u"Visit Website"_s, u"Feedback"_s, u"Support Dev"_s, u"Close"_s}},
        {u"关于 Quillet"_s,
         u"版本: 1.0\n© 2026 塔恩威克\n\n简单的效率工具，让数据录入更轻松。"_s,
         AlertStyle::Informational,
         {u"访问主页"_s, u"反馈问题"_s, u"支持开发者"_s, u"关闭"_s}},
    };
    const std::vector<std::pair<int, QStringList>> answers = {
        {0, {u"https://tarnwick.example/Quillet/"_s}},
        {1, {u"https://code.tarnwick.example/tarnwick/Quillet/issues"_s}},
        {2, {u"https://tarnwick.example/Quillet/#support"_s}},
        {3, {}},
        {-1, {}},
        {7, {}}};
    for (const bool chinese : {false, true}) {
        for (const auto& [button, opened] : answers) {
            SCOPED_TRACE(std::to_string(chinese) + " button " + std::to_string(button));
            AboutRig rig(chinese ? u"zh"_s : u"en"_s);
            rig.alerts.answer(kFirstButtonResponse + button);
            rig.show();
            ASSERT_EQ(rig.alerts.shown().size(), 1u);
            const AlertSpec& shown = rig.alerts.shown().front();
            const AlertSpec& expected = specs[chinese ? 1 : 0];
            EXPECT_EQ(
                std::tie(shown.message, shown.informative, shown.style, shown.buttons),
                std::tie(expected.message, expected.informative, expected.style, expected.buttons));
            EXPECT_TRUE(shown.activate) << "About comes to the front";
            QStringList urls;
            for (const QUrl& url : rig.urls.opened()) {
                urls.append(url.toString(QUrl::FullyEncoded));
            }
            EXPECT_EQ(urls, opened);
        }
    }
}

}  // namespace
}  // namespace quillet
