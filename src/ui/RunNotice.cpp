#include "ui/RunNotice.h"

#include <QDir>
#include <algorithm>

#include "app/ErrorText.h"
#include "app/LanguageTexts.h"
#include "engine/Browsers.h"

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
QString shortFolder(const std::string& folder) {
    const QString path = q(folder);
    const QString home = QDir::homePath();
    if (home.size() > 1 && (path == home || path.startsWith(home + QLatin1Char('/')))) {
        return QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

QString shortUrl(const std::string& url) {
    const QString text = q(url);
    return text.size() <= kUrlShown ? text : text.left(kUrlShown - 1) + QChar(0x2026);
}

QString failureLines(const CombResult& result, const LanguageTexts& texts) {
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
            urls.append(shortUrl(url));
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

QString RunNotice::line() const {
    QString body = text;
    body.replace(QLatin1Char('\n'), QStringLiteral("; "));
    return title + QStringLiteral(": ") + body;
}

RunNotice runNotice(const RunSummary& summary, const LanguageTexts& texts) {
    RunNotice notice;
    const QString browser = summary.browser != nullptr ? q(texts.browserName(*summary.browser))
                                                       : QStringLiteral("Harvix");
    if (!summary.failure.empty()) {
        notice.title = q(texts.NotifyFailedTitle).arg(browser);
        notice.text = q(summary.failure);
        notice.warning = true;
        return notice;
    }
    if (!summary.finished) {
        return notice;
    }
    if (const auto& failure = summary.run.openError) {
        // The cache could not be opened; a box has told it, or else this.
        if (!showsErrorBox(*failure)) {
            notice.title = q(texts.NotifyFailedTitle).arg(browser);
            notice.text = q(cacheOpenText(*failure, texts, summary.browser));
            notice.warning = true;
        }
        return notice;
    }
    const CombResult& result = summary.run.result;
    // A target folder refused stopped the run before its first entry; its
    // box has told why.
    if (!result.foldersReady) {
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
        for (std::size_t i = 0; i < result.keptByFolder.size() && i < kFoldersShown; ++i) {
            folders.append(shortFolder(result.keptByFolder[i].first));
        }
        QString where = folders.join(QStringLiteral(", "));
        if (result.keptByFolder.size() > kFoldersShown) {
            where += QStringLiteral(" (+%1)").arg(result.keptByFolder.size() - kFoldersShown);
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
        lines.append(failureLines(result, texts));
        notice.warning = true;
    }
    if (!result.keptByFolder.empty()) {
        const std::string& first = result.keptByFolder.front().first;
        notice.folder = q(first);
        lines.append(q(texts.NotifyClickToOpen).arg(shortFolder(first)));
    }
    notice.text = lines.join(QLatin1Char('\n'));
    return notice;
}

}  // namespace harvix
