#pragma once

#include <QTranslator>

namespace testsupport {

// Tags every text with the context it was translated in, as "context|text".
class ContextTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char * = nullptr,
        int = -1) const override
    {
        return QString::fromLatin1(context) + QLatin1Char('|') + QString::fromLatin1(sourceText);
    }
};

} // namespace testsupport
