#include "app/permission_notice.h"

namespace quillet {

LinkAlertSpec permissionAlert(const LocalizedStrings& strings) {
    return LinkAlertSpec{
        AlertSpec{
            strings.text(u"Accessibility Permission Needed", u"需要辅助功能权限"),
            strings.text(
                u"Quillet pastes by sending Control+V to the application you type in, and this "
                u"session does not let it send keystrokes. It needs an X11 session with the "
                u"XTEST extension. On Wayland, choose an X11 session when you log in (for example "
                u"\"GNOME on Xorg\" or \"Plasma (X11)\") and start Quillet again.",
                u"Quillet 通过向您正在输入的应用发送 Control+V 来粘贴，但当前会话不允许它发送按键。"
                u"Quillet 需要支持 XTEST 扩展的 X11 会话。如果您使用 Wayland，请在登录时选择 X11 "
                u"会话（例如“GNOME on Xorg”或“Plasma (X11)”），然后重新启动 Quillet。"),
            AlertStyle::Critical,
            {strings.text(u"Open Settings", u"打开系统设置"), strings.text(u"Cancel", u"取消")},
        },
        // No desktop has a settings page that grants synthetic input, so the
        // button leads to the page that explains the session choice.
        {kInputHelpUrl, nullptr},
    };
}

}  // namespace quillet
