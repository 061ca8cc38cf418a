#include "app/localized_strings.h"

#include "app/notifier.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/manual_main_queue.h"
#include "platform/fakes/scripted_alerts.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

const QString kLanguageKey = u"appLanguage"_s;

TEST(LocalizedStrings, PicksChineseByTheSettingOrElseTheFirstSystemLanguage) {
    struct Case {
        std::optional<QString> setting;
        QStringList system;
        bool chinese;
    };
    const QStringList zhFirst{u"zh-Hans-CN"_s, u"en-US"_s};
    const QStringList enFirst{u"en-US"_s, u"zh-Hans-CN"_s};
    const std::vector<Case> cases = {
        {std::nullopt, zhFirst, true},
        {std::nullopt, enFirst, false},
        {u"auto"_s, {u"zh-Hant-TW"_s}, true},
        {u"auto"_s, {}, false},
        {u"en"_s, zhFirst, false},
        {u"zh"_s, enFirst, true},
        {u"zh"_s, {}, true},
        // Anything else is "auto".
        {u"ZH"_s, enFirst, false},
        {u" zh"_s, enFirst, false},
        {u"fr"_s, enFirst, false},
        {u"fr"_s, zhFirst, true},
        {u"EN"_s, zhFirst, true},
        {u""_s, zhFirst, true},
    };
    // One object throughout: every question must read the setting afresh.
    InMemorySettingsStore settings;
    FixedUiLanguages languages;
    const LocalizedStrings strings(settings, languages);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting.value_or(u"<absent>"_s).toStdString() + " / " +
                     c.system.join(u',').toStdString());
        if (c.setting) {
            settings.setString(kLanguageKey, *c.setting);
        } else {
            settings.setRaw(kLanguageKey, QVariant());
        }
        languages.set(c.system);
        EXPECT_EQ(strings.isChinese(), c.chinese);
        EXPECT_EQ(strings.text(u"yes", u"是"), c.chinese ? u"是"_s : u"yes"_s);
    }
}

struct NotifierRig {
    InMemorySettingsStore settings;
    FixedUiLanguages languages;
    ManualMainQueue mainQueue;
    ScriptedAlerts alerts;
    Notifier notifier{mainQueue, alerts, LocalizedStrings{settings, languages}};
};

// Shown on the main queue in request order; the button follows the language
// when the notice is shown, while the caller's own texts stay.
TEST(Notifier, ShowsNoticesInOrderWithTheButtonInTheLanguageAtShowTime) {
    NotifierRig rig;
    rig.settings.setString(kLanguageKey, u"en"_s);
    rig.notifier.notify(u"first", u"第一");
    rig.notifier.showNotification(u"Title"_s, u"second"_s);
    rig.settings.setString(kLanguageKey, u"zh"_s);
    EXPECT_TRUE(rig.alerts.shown().empty()) << "nothing is shown off the main queue";
    rig.mainQueue.runPending();
    rig.notifier.notify(u"third", u"第三");
    rig.settings.setString(kLanguageKey, u"en"_s);
    rig.mainQueue.runPending();

    QStringList shown;
    for (const AlertSpec& alert : rig.alerts.shown()) {
        EXPECT_EQ(alert.style, AlertStyle::Informational);
        shown.append(alert.message + u'|' + alert.informative + u'|' + alert.buttons.join(u','));
    }
    EXPECT_EQ(shown,
              (QStringList{u"Quillet|第一|好的"_s, u"Title|second|好的"_s, u"Quillet|third|OK"_s}));
}

}  // namespace
}  // namespace quillet
