#include "config/configdal.h"

#include "app/state/state.h"
#include "util/utility.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QXmlStreamReader>

Q_LOGGING_CATEGORY(lcConfig, "tembra.config")

namespace {
const QString kCfgDirSuffix = QStringLiteral("//cfg//");
const QString kRootElement = QStringLiteral("configuration");
const QString kDeclarationTarget = QStringLiteral("xml");
const QString kDeclarationData = QStringLiteral("version=\"1.0\" encoding=\"uft-8\"");
const QString kPasswordKey = QStringLiteral("password");
// Values at least this long are taken to be digests already and kept as they are.
const int kPasswordHashBelow = 30;
const int kIndent = 4;
// How far into a file its XML declaration is looked for.
const int kDeclarationScan = 256;

QString fileIn(const char* name) {
    return ConfigDAL::ConfigDir() + QString::fromLatin1(name);
}

// Characters that XML 1.0 can carry (its Char production).
bool isXmlChar(uint c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Characters that may begin and continue an XML element name (without the
// colon, which namespace-aware readers reserve for prefixes).
bool isNameStartChar(uint c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}
bool isNameChar(uint c) {
    return isNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// Calls visit with each code point of text and the length it takes in text
// (2 for a surrogate pair); a lone surrogate is passed as itself.
template <typename Visit> void forEachCodePoint(const QString& text, Visit visit) {
    for (int i = 0; i < text.size();) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            visit(QChar::surrogateToUcs4(c, text.at(i + 1)), i, 2);
            i += 2;
        } else {
            visit(c.unicode(), i, 1);
            ++i;
        }
    }
}

// Whether the reader below takes key as an element name. It applies older,
// stricter name rules than the current XML ones, and a length limit: asking
// the reader itself keeps the writer and the reader to one rule.
bool readerTakesName(const QString& key) {
    QXmlStreamReader xml(QLatin1Char('<') + key + QStringLiteral("/>"));
    xml.setNamespaceProcessing(false);
    return xml.readNextStartElement() && xml.qualifiedName() == key && !xml.hasError();
}

// A key that is written only when it reads back: an XML name without a colon
// (which namespace-aware readers reserve for prefixes), taken by the reader.
bool isXmlName(const QString& key) {
    bool valid = !key.isEmpty();
    forEachCodePoint(key, [&](uint c, int at, int) {
        valid = valid && (at == 0 ? isNameStartChar(c) : isNameChar(c));
    });
    return valid && readerTakesName(key);
}

// The settings files this tool writes declare "uft-8", which names no
// encoding: those files, and files that declare nothing or UTF-8, are decoded
// as UTF-8. A file that declares a real encoding of its own is left to the
// reader, which decodes it by that declaration.
bool declaresOtherEncoding(const QByteArray& bytes) {
    static const QRegularExpression declaration(
        QStringLiteral(R"(^(?:\xEF\xBB\xBF)?<\?xml\s[^?]*?encoding\s*=\s*["']([^"']*)["'])"));
    const QRegularExpressionMatch match =
        declaration.match(QString::fromLatin1(bytes.left(kDeclarationScan)));
    if (!match.hasMatch())
        return false;
    const QString name = match.captured(1).toLower();
    return name != QLatin1String("uft-8") && name != QLatin1String("utf-8") &&
           name != QLatin1String("utf8");
}

// The value without the characters XML 1.0 cannot carry.
QString xmlText(const QString& value, bool* dropped) {
    QString text;
    text.reserve(value.size());
    forEachCodePoint(value, [&](uint c, int at, int length) {
        if (isXmlChar(c))
            text.append(value.constData() + at, length);
        else
            *dropped = true;
    });
    return text;
}
} // namespace

QString ConfigDAL::ConfigDir() {
    return Globals::AppPath + kCfgDirSuffix;
}

QString ConfigDAL::ReadValue(const QString& path, const QString& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    // A reader that keeps its own stack: however deep a file nests, it does
    // not recurse.
    QXmlStreamReader xml;
    if (declaresOtherEncoding(bytes)) {
        xml.addData(bytes);
    } else {
        QString content = QString::fromUtf8(bytes);
        if (content.startsWith(QChar(0xFEFF)))
            content.remove(0, 1);
        const int declarationEnd = content.indexOf(QLatin1String("?>"));
        if (content.startsWith(QLatin1String("<?xml")) && content.size() > 5 &&
            content.at(5).isSpace() && declarationEnd > 0)
            content.remove(0, declarationEnd + 2);
        xml.addData(content);
    }
    xml.setNamespaceProcessing(false);

    // Up to the root element. The tool never writes a document type
    // declaration; one in a file could declare entities that expand without
    // bound, so such a file is malformed and read no further.
    while (!xml.atEnd() && !xml.isStartElement()) {
        xml.readNext();
        if (xml.tokenType() != QXmlStreamReader::DTD)
            continue;
        static QSet<QString> reported;
        if (!reported.contains(path)) {
            reported.insert(path);
            qCWarning(lcConfig).noquote()
                << path << "carries a document type declaration: read as malformed";
        }
        return QString();
    }
    QString value;
    bool found = false;
    if (xml.isStartElement()) {
        while (xml.readNextStartElement()) {
            if (found || xml.qualifiedName() != key) {
                xml.skipCurrentElement();
                continue;
            }
            found = true;
            // All the text inside the element, as a DOM element's text().
            for (int depth = 1; depth > 0 && !xml.atEnd();) {
                xml.readNext();
                if (xml.isStartElement())
                    ++depth;
                else if (xml.isEndElement())
                    --depth;
                else if (xml.isCharacters())
                    value += xml.text();
            }
        }
    }
    // The file counts only when all of it is well-formed, after the key too.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return QString();
    return value;
}

bool ConfigDAL::WriteConfig(const QHash<QString, QString>& values, const QString& path) {
    const QString dir = ConfigDir();
    qCDebug(lcConfig).noquote() << dir;
    if (!QDir(dir).exists()) {
        qCDebug(lcConfig).noquote() << dir;
        QDir().mkdir(dir);
    }

    QDomDocument doc;
    QDomElement root = doc.createElement(kRootElement);
    doc.appendChild(root);

    // Every entry written must read back as given: an entry whose key is no
    // XML name, or whose value holds a character XML cannot carry, is left
    // out and the write reported as failed.
    bool complete = true;
    const QList<QString> keys = values.keys();
    const QList<QString> vals = values.values();
    for (int i = 0; i < keys.size(); ++i) {
        if (!isXmlName(keys.at(i))) {
            qCWarning(lcConfig).noquote()
                << "not written to" << path << ": the key" << keys.at(i) << "is no XML name";
            complete = false;
            continue;
        }
        bool unstorable = false;
        QString value = xmlText(vals.at(i), &unstorable);
        if (unstorable) {
            qCWarning(lcConfig).noquote() << "not written to" << path << ": the value of"
                                          << keys.at(i) << "holds a character that XML cannot hold";
            complete = false;
            continue;
        }
        QDomElement element = doc.createElement(keys.at(i));
        if (element.tagName() == kPasswordKey && value.size() < kPasswordHashBelow)
            value = Utility::Md5Hex(value);
        element.appendChild(doc.createTextNode(value));
        root.appendChild(element);
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcConfig).noquote() << "cannot write" << path << ":" << file.errorString();
        return false;
    }
    // The declaration names "uft-8" as the tool always has; the bytes are
    // UTF-8. Written by hand: the toolkit's writer would refuse the name.
    const QByteArray bytes =
        (QStringLiteral("<?%1 %2?>\n").arg(kDeclarationTarget, kDeclarationData) +
         doc.toString(kIndent))
            .toUtf8();
    // The file's own buffer is written out here: commit() does not report a
    // write that fails while it flushes.
    const bool written = file.write(bytes) == bytes.size();
    const bool flushed = file.flush();
    if (!written || !flushed || file.error() != QFileDevice::NoError) {
        qCWarning(lcConfig).noquote()
            << "write failed, previous file kept:" << path << ":" << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcConfig).noquote()
            << "commit failed, previous file kept:" << path << ":" << file.errorString();
        return false;
    }
    return complete;
}

QString ConfigDAL::StorableText(const QString& value) {
    bool dropped = false;
    return xmlText(value, &dropped);
}

QString ConfigDAL::GetFirmwareMCU(const QString& key) {
    return ReadValue(fileIn("FirmwareMCU.xml"), key);
}
QString ConfigDAL::GetLanguage(const QString& key) {
    return ReadValue(fileIn("Language.xml"), key);
}
QString ConfigDAL::GetLogin(const QString& key) {
    return ReadValue(fileIn("Login.xml"), key);
}
QString ConfigDAL::GetUpdateBrand(const QString& key) {
    return ReadValue(fileIn("UpdateBrand.xml"), key);
}
QString ConfigDAL::GetUpdatePC(const QString& key) {
    return ReadValue(fileIn("UpdatePC.xml"), key);
}
QString ConfigDAL::GetUserSetting(const QString& key) {
    return ReadValue(fileIn("UserSetting.xml"), key);
}
QString ConfigDAL::GetAutoLogin(const QString& key) {
    return ReadValue(fileIn("AutoLogin.xml"), key);
}
QString ConfigDAL::GetDateDisplayMode(const QString& key) {
    return ReadValue(fileIn("DateDisplayMode.xml"), key);
}
QString ConfigDAL::GetUpdateFirmwareVersion(const QString& key) {
    return ReadValue(fileIn("UpdateFirmwareVersion.xml"), key);
}
QString ConfigDAL::GetSetTimeAfterUpdate(const QString& key) {
    return ReadValue(fileIn("SetTimeAfterUpdate.xml"), key);
}
