#include "ui/RunNotice.h"

#include <QDir>
#include <algorithm>

#include "app/ErrorText.h"
#include "app/LanguageTexts.h"
#include "engine/Browsers.h"
#include "platform/Path.h"

namespace harvix {

namespace {

// Folders named in the notice, reasons and URLs per reason shown; the rest
// is counted.
constexpr std::size_t kFoldersShown = 3;
constexpr std::size_t kReasonsShown = 3;
constexpr qsizetype kUrlShown = 70;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// A folder as the user knows it: the home folder written "~".
QString ShortFolder(const std::string& folder) {
    const QString path = q(folder);
    const QString home = QDir::homePath();
    if (home.size() > 1 && (path == home || path.startsWith(home + QLatin1Char('/')))) {
        return QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

QString ShortUrl(const std::string& url) {
    const QString text = q(url);
    return text.size() <= kUrlShown ? text : text.left(kUrlShown - 1) + QChar(0x2026);
}

QString FailureLines(const CombResult& result, const LanguageTexts& texts) {
    QString lines = q(texts.NotifyFailed).arg(result.failed);
    std::size_t reasons = 0;
    for (const auto& [reason, failures] : result.failures) {
        if (reasons++ == kReasonsShown) {
            lines += QStringLiteral("\n\u2026");
            break;
        }
        lines += QStringLiteral("\n%1 \u00d7 %2").arg(failures.count).arg(q(reason));
        QStringList urls;
        for (const std::string& url : failures.firstUrls) {
            urls.append(ShortUrl(url));
        }
        if (!urls.isEmpty()) {
            lines += QStringLiteral(": ") + urls.join(QStringLiteral(", "));
            if (failures.count > failures.firstUrls.size()) {
                lines += QStringLiteral(", \u2026");
            }
        }
    }
    return lines;
}

}  // namespace

void RunSummary::addKept(const std::string& path) {
    const std::string folder = pathToUtf8(pathFromUtf8(path).parent_path());
    for (auto& [known, count] : folders) {
        if (known == folder) {
            ++count;
            return;
        }
    }
    folders.emplace_back(folder, 1);
}

QString RunNotice::line() const {
    QString body = text;
    body.replace(QLatin1Char('\n'), QStringLiteral("; "));
    return title + QStringLiteral(": ") + body;
}

RunNotice runNotice(const RunSummary& run, const LanguageTexts& texts) {
    RunNotice notice;
    const BrowserRow* row = browserRow(run.kind);
    const QString browser = row != nullptr ? q(row->displayName) : QStringLiteral("Harvix");
    if (run.openFailure) {
        notice.title = q(texts.NotifyFailedTitle).arg(browser);
        notice.text = q(cacheOpenText(*run.openFailure, texts));
        notice.warning = true;
        return notice;
    }
    const CombResult& result = run.result;
    // A target folder that cannot be made stopped the run before its first
    // entry; its box has told why.
    if (!run.combed || !result.foldersReady) {
        return notice;
    }
    const bool cancelled = result.stopped;
    if (!cancelled && result.kept == 0 && result.duplicates == 0 && result.tooSmall == 0 &&
        result.failed == 0) {
        return notice;
    }
    notice.title = q(cancelled ? texts.NotifyCancelled : texts.NotifyCombed).arg(browser);
    QStringList lines;
    if (result.kept > 0) {
        QStringList folders;
        for (std::size_t i = 0; i < run.folders.size() && i < kFoldersShown; ++i) {
            folders.append(ShortFolder(run.folders[i].first));
        }
        QString where = folders.join(QStringLiteral(", "));
        if (run.folders.size() > kFoldersShown) {
            where += QStringLiteral(" (+%1)").arg(run.folders.size() - kFoldersShown);
        }
        lines.append(q(texts.NotifyKept).arg(result.kept).arg(where));
    } else {
        lines.append(q(texts.NotifyNoneKept));
    }
    if (cancelled && result.kept > 0) {
        lines.append(q(texts.NotifyCancelledKept));
    }
    if (result.duplicates > 0) {
        lines.append(q(texts.NotifyDuplicates).arg(result.duplicates));
    }
    if (result.tooSmall > 0) {
        lines.append(q(texts.NotifyTooSmall).arg(result.tooSmall));
    }
    if (result.failed > 0) {
        lines.append(FailureLines(result, texts));
        notice.warning = true;
    }
    if (!run.folders.empty()) {
        notice.folder = q(run.folders.front().first);
        lines.append(q(texts.NotifyClickToOpen).arg(ShortFolder(run.folders.front().first)));
    }
    notice.text = lines.join(QLatin1Char('\n'));
    return notice;
}

}  // namespace harvix
