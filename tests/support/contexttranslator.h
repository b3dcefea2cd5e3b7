#pragma once

#include <QSemaphore>
#include <QTranslator>

namespace testsupport {

// Tags every text with the context it was translated in, as "context|text". With `holdWorker`
// it also keeps the thread that translates a text of context "Worker" inside until `proceed`
// is released (for at most 5 s).
class ContextTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char * = nullptr,
        int = -1) const override
    {
        if (holdWorker && qstrcmp(context, "Worker") == 0) {
            inside.release();
            proceed.tryAcquire(1, 5000);
        }
        return QString::fromLatin1(context) + QLatin1Char('|') + QString::fromLatin1(sourceText);
    }

    bool holdWorker = false;
    mutable QSemaphore inside;
    mutable QSemaphore proceed;
};

} // namespace testsupport
