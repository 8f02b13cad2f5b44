#include "HTTPResponse.h"

std::optional<QByteArray> HTTPResponse::header(QByteArrayView name) const
{
    for (const auto& [fieldName, value] : headers) {
        if (fieldName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}
