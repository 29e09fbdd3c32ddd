#include "RecordIdentity.h"

#include <QtCore/QCryptographicHash>

namespace RecordIdentity {

uint64_t derivedSeq(std::string_view line)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::fromRawData(line.data(), int(line.size())));
    const QByteArray digest = hash.result();
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | uint8_t(digest[i]);
    return DerivedBit | (value & MaxSeq);
}

} // namespace RecordIdentity
