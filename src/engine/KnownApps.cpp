// The desktop apps built on Chromium that the "apps" row names: the folder
// each keeps below ~/.config (or a Flatpak's config folder), the name shown
// for it, and the program its main process runs as. An app not listed here
// is still read, under its folder's name.
#include "engine/DesktopApps.h"

namespace harvix {

const std::vector<KnownApp>& knownApps() {
    static const std::vector<KnownApp> apps = {
        // chat
        {"discord", "Discord", "discord"},
        {"Slack", "Slack", "slack"},
        {"Signal", "Signal", "signal-desktop"},
        {"Element", "Element", "element-desktop"},
        {"teams-for-linux", "Teams for Linux", "teams-for-linux"},
        {"Microsoft Teams", "Microsoft Teams", "teams"},
        {"Mattermost", "Mattermost", "mattermost-desktop"},
        {"Rocket.Chat", "Rocket.Chat", "rocketchat-desktop"},
        {"Zulip", "Zulip", "zulip"},
        {"Caprine", "Caprine", "caprine"},
        {"Ferdium", "Ferdium", "ferdium"},
        {"Beeper", "Beeper", "beeper"},
        // mail
        {"Mailspring", "Mailspring", "mailspring"},
        // music
        {"YouTube Music", "YouTube Music", "youtube-music"},
        {"tidal-hifi", "TIDAL Hi-Fi", "tidal-hifi"},
        // editors and tools
        {"Code", "Visual Studio Code", "code"},
        {"Code - OSS", "Code - OSS", "code-oss"},
        {"VSCodium", "VSCodium", "codium"},
        {"obsidian", "Obsidian", "obsidian"},
        {"Typora", "Typora", "typora"},
        {"Postman", "Postman", "postman"},
        {"GitHub Desktop", "GitHub Desktop", "github-desktop"},
        {"Bitwarden", "Bitwarden", "bitwarden"},
    };
    return apps;
}

}  // namespace harvix
