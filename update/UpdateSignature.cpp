#include "UpdateSignature.h"

#include <algorithm>

#include <sodium.h>

#include <QFile>
#include <QRegularExpression>

#include "update/UpdateDescription.h"

namespace UpdateSignature {

namespace {

constexpr qsizetype KeyIdSize = 8;
constexpr qsizetype HashSize = crypto_generichash_BYTES_MAX; // 64: BLAKE2b-512
constexpr qint64 ReadBlock = 256 * 1024;
const QByteArray Ed25519 = QByteArrayLiteral("Ed");
const QByteArray Prehashed = QByteArrayLiteral("ED");
const QByteArray UntrustedPrefix = QByteArrayLiteral("untrusted comment: ");
const QByteArray TrustedPrefix = QByteArrayLiteral("trusted comment: ");

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QByteArray fromBase64(const QByteArray &text, qsizetype size)
{
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return QByteArray();
    return decoded.decoded;
}

bool verified(const QByteArray &signature, const QByteArray &message, const QByteArray &key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
               reinterpret_cast<const unsigned char *>(message.constData()), quint64(message.size()),
               reinterpret_cast<const unsigned char *>(key.constData()))
        == 0;
}

} // namespace

struct FileHash::State
{
    crypto_generichash_state hash;
};

FileHash::FileHash()
    : m_state(std::make_unique<State>())
{
    sodiumReady();
    crypto_generichash_init(&m_state->hash, nullptr, 0, HashSize);
}

FileHash::~FileHash() = default;

void FileHash::addData(const char *data, qint64 length)
{
    crypto_generichash_update(&m_state->hash, reinterpret_cast<const unsigned char *>(data), quint64(length));
}

QByteArray FileHash::result()
{
    QByteArray digest(HashSize, '\0');
    crypto_generichash_final(&m_state->hash, reinterpret_cast<unsigned char *>(digest.data()), HashSize);
    return digest;
}

bool parsePublicKey(const QString &text, PublicKey *key)
{
    // The key is the last line that is not a comment.
    QByteArray line;
    for (const QByteArray &candidate : text.toLatin1().split('\n')) {
        const QByteArray trimmed = candidate.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(UntrustedPrefix.trimmed()))
            line = trimmed;
    }
    const QByteArray decoded = fromBase64(line, 2 + KeyIdSize + crypto_sign_PUBLICKEYBYTES);
    if (decoded.isEmpty() || !decoded.startsWith(Ed25519))
        return false;
    key->id = decoded.mid(2, KeyIdSize);
    key->key = decoded.mid(2 + KeyIdSize);
    return true;
}

bool parsePublicKeys(const QString &list, QList<PublicKey> *keys, QString *error)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    keys->clear();
    for (const QString &text : list.split(separators, Qt::SkipEmptyParts)) {
        PublicKey key;
        if (!parsePublicKey(text, &key)) {
            *error = QStringLiteral("\"%1\" is geen minisign-sleutel").arg(text);
            keys->clear();
            return false;
        }
        keys->append(key);
    }
    return true;
}

QList<PublicKey> keysOfSetting(const QString &setting, QString *problem)
{
    QList<PublicKey> keys;
    problem->clear();
    if (setting.trimmed().isEmpty()) {
        *problem = QStringLiteral("deze versie is gebouwd zonder sleutel om updates te controleren");
        return keys;
    }
    QString error;
    if (!parsePublicKeys(setting, &keys, &error))
        *problem = QStringLiteral("de ingebouwde sleutel om updates te controleren is onbruikbaar: %1").arg(error);
    return keys;
}

QString builtInKeysSetting()
{
    return QStringLiteral(BSA_UPDATE_PUBLIC_KEYS);
}

QString keyIdText(const QByteArray &id)
{
    // minisign shows the id as a little-endian number.
    QByteArray reversed = id;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}

QString expectedComment(const QString &programFile, const QString &version)
{
    return descriptionSection(programFile) + QLatin1Char(' ') + version;
}

QByteArray hashOfFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 kan niet gelezen worden: %2").arg(path, file.errorString());
        return QByteArray();
    }
    FileHash hash;
    while (!file.atEnd()) {
        const QByteArray block = file.read(ReadBlock);
        if (block.isEmpty()) {
            *error = QStringLiteral("%1 kan niet gelezen worden: %2").arg(path, file.errorString());
            return QByteArray();
        }
        hash.addData(block.constData(), block.size());
    }
    return hash.result();
}

QString check(const QByteArray &fileHash, const QByteArray &signatureFile, const QList<PublicKey> &keys,
    const QString &expectedComment)
{
    if (!sodiumReady())
        return QStringLiteral("de bibliotheek libsodium kan niet starten");
    if (keys.isEmpty())
        return QStringLiteral("er is geen sleutel om de handtekening mee te controleren");
    QList<QByteArray> lines = signatureFile.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.size() < 4 || !lines.at(0).startsWith(UntrustedPrefix) || !lines.at(2).startsWith(TrustedPrefix))
        return QStringLiteral("het handtekeningbestand is geen minisign-handtekening");
    const QByteArray signature = fromBase64(lines.at(1), 2 + KeyIdSize + crypto_sign_BYTES);
    const QByteArray globalSignature = fromBase64(lines.at(3), crypto_sign_BYTES);
    if (signature.isEmpty() || globalSignature.isEmpty())
        return QStringLiteral("de handtekening is onleesbaar");

    const QByteArray algorithm = signature.left(2);
    if (algorithm == Ed25519)
        return QStringLiteral("de handtekening heeft de oude vorm \"Ed\" zonder hash; alleen \"ED\" wordt aanvaard");
    if (algorithm != Prehashed)
        return QStringLiteral("de handtekening gebruikt een onbekend algoritme");
    const QByteArray keyId = signature.mid(2, KeyIdSize);
    const auto key
        = std::find_if(keys.cbegin(), keys.cend(), [&](const PublicKey &known) { return known.id == keyId; });
    if (key == keys.cend())
        return QStringLiteral("de handtekening is gezet met een onbekende sleutel (%1)").arg(keyIdText(keyId));
    const QByteArray fileSignature = signature.mid(2 + KeyIdSize);
    if (fileHash.size() != HashSize || !verified(fileSignature, fileHash, key->key))
        return QStringLiteral("de handtekening past niet bij het bestand");

    const QByteArray trusted = lines.at(2).mid(TrustedPrefix.size());
    if (!verified(globalSignature, fileSignature + trusted, key->key))
        return QStringLiteral("de handtekening over het vertrouwde commentaar klopt niet");
    const QString comment = QString::fromUtf8(trusted);
    if (comment != expectedComment)
        return QStringLiteral("het vertrouwde commentaar is \"%1\", verwacht \"%2\"").arg(comment, expectedComment);
    return QString();
}

} // namespace UpdateSignature
