// brelvon-skin: makes and inspects skin files (skin.jss).
//
//   brelvon-skin pack DIR OUT.jss     skin.ini + one KEY.png/KEY.bmp per picture key -> OUT.jss
//   brelvon-skin list SKIN.jss        every key with its kind and value, and the missing keys
//   brelvon-skin unpack SKIN.jss DIR  the skin's entries back into DIR
//   brelvon-skin [COMMAND] --help     what the program or the command does
//   brelvon-skin --version            the program's version
//
// Exit codes: 0 done, 1 bad input or a file that cannot be read or written, 2 wrong usage.

#include "skin/skinkeys.h"
#include "skin/skinstore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

namespace {

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

int fail(const QString &message)
{
    err() << "brelvon-skin: " << message << '\n';
    err().flush();
    return 1;
}

QStringList missingKeys(const SkinStore &store)
{
    QStringList missing;
    for (const SkinKey &k : kSkinKeys) {
        if (store.kind(QLatin1String(k.name)) != k.kind)
            missing << QLatin1String(k.name);
    }
    return missing;
}

// The folder's skin entries, checked: skin.ini must parse cleanly, every picture must decode
// within the bounds, and nothing else may be there.
struct PackInput
{
    QByteArray ini;
    std::map<int, std::pair<QString, QByteArray>> pictures; // key index -> entry name, bytes
    SkinStore store;
};

int readFolder(const QString &dirPath, PackInput &input)
{
    const QDir dir(dirPath);
    if (!dir.exists())
        return fail(dirPath + QStringLiteral(": no such folder"));
    QStringList errors;
    bool haveIni = false;
    qint64 pixelsLeft = kSkinMaxTotalPixels; // what the program reads of a skin
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &fi : entries) {
        const QString name = fi.fileName();
        if (fi.isDir()) {
            errors << name + QStringLiteral(": folders do not belong in a skin");
            continue;
        }
        QFile file(fi.filePath());
        if (fi.size() > kSkinMaxEntryBytes) {
            errors << name + QStringLiteral(": larger than 16 MiB");
            continue;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            errors << name + QStringLiteral(": cannot read (%1)").arg(file.errorString());
            continue;
        }
        const QByteArray bytes = file.readAll();
        if (name == QLatin1String("skin.ini") && bytes.size() > kSkinMaxIniBytes) {
            errors << name + QStringLiteral(": larger than 64 KiB");
            continue;
        }
        if (name == QLatin1String("skin.ini")) {
            haveIni = true;
            input.ini = bytes;
            QStringList problems;
            input.store.readIni(bytes, &problems);
            errors << problems;
            continue;
        }
        const QString key = skinPictureKeyOfEntry(name);
        if (key.isEmpty()) {
            const QString base = fi.completeBaseName();
            const SkinKind kind = skinKeyKind(base);
            if (kind == SkinKind::Number || kind == SkinKind::Colour)
                errors << name + QStringLiteral(": %1 is a %2 and belongs in skin.ini")
                                     .arg(base, skinKindName(kind));
            else
                errors << name + QStringLiteral(": not a skin key picture (KEY.png or KEY.bmp "
                                                "with one of the 33 keys, exactly spelled)");
            continue;
        }
        int index = 0;
        while (QLatin1String(kSkinKeys[std::size_t(index)].name) != key)
            ++index;
        if (input.pictures.count(index)) {
            errors << name + QStringLiteral(": %1 already has a picture (%2)")
                                 .arg(key, input.pictures[index].first);
            continue;
        }
        QString problem;
        const QImage image = SkinStore::decodePicture(bytes, &problem, pixelsLeft);
        if (image.isNull()) {
            errors << name + QStringLiteral(": ") + problem;
            continue;
        }
        pixelsLeft -= qint64(image.width()) * image.height();
        input.store.setPicture(key, image);
        input.pictures[index] = {name, bytes};
    }
    if (!haveIni)
        errors << QStringLiteral("skin.ini: missing");
    if (!errors.isEmpty()) {
        for (const QString &e : errors)
            err() << "brelvon-skin: " << dirPath << '/' << e << '\n';
        err().flush();
        return 1;
    }
    return 0;
}

bool addEntry(zip_t *zip, const QString &name, const QByteArray &bytes, bool compress)
{
    // libzip copies nothing until zip_close; the buffer must outlive it (the caller's does).
    zip_source_t *source = zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
    if (!source)
        return false;
    const zip_int64_t index =
        zip_file_add(zip, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        return false;
    }
    // A fixed time keeps packed skins byte-identical from build to build.
    zip_file_set_mtime(zip, zip_uint64_t(index), 946684800 + 12 * 3600, 0);
    // PNG is compressed already; storing it makes loading cheaper.
    zip_set_file_compression(zip, zip_uint64_t(index), compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
    return true;
}

int pack(const QString &dirPath, const QString &outPath)
{
    PackInput input;
    if (int rc = readFolder(dirPath, input))
        return rc;
    const QStringList missing = missingKeys(input.store);

    int error = 0;
    zip_t *zip =
        zip_open(QFile::encodeName(outPath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        const QString why = QString::fromUtf8(zip_error_strerror(&ze));
        zip_error_fini(&ze);
        return fail(outPath + QStringLiteral(": cannot create (%1)").arg(why));
    }
    bool ok = addEntry(zip, QStringLiteral("skin.ini"), input.ini, true);
    for (const auto &[index, entry] : input.pictures) {
        const bool isPng = entry.first.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
        ok = ok && addEntry(zip, entry.first, entry.second, !isPng);
    }
    if (!ok) {
        const QString why = QString::fromUtf8(zip_strerror(zip));
        zip_discard(zip);
        return fail(outPath + QStringLiteral(": cannot write (%1)").arg(why));
    }
    // zip_close writes a temporary file and renames it: a failed pack leaves no half skin.
    if (zip_close(zip) != 0) {
        const QString why = QString::fromUtf8(zip_strerror(zip));
        zip_discard(zip);
        return fail(outPath + QStringLiteral(": cannot write (%1)").arg(why));
    }
    if (!missing.isEmpty()) {
        err() << "brelvon-skin: warning: " << missing.size()
              << " of 33 keys missing: " << missing.join(QStringLiteral(", ")) << '\n';
        err().flush();
    }
    out() << "packed " << (33 - missing.size()) << " of 33 keys into " << outPath << '\n';
    return 0;
}

int list(const QString &skinPath)
{
    if (!QFileInfo(skinPath).isFile())
        return fail(skinPath + QStringLiteral(": no such file"));
    QStringList problems;
    const auto store = SkinStore::readFile(skinPath, &problems);
    if (store->isEmpty() && !problems.isEmpty()) {
        for (const QString &p : problems)
            err() << "brelvon-skin: " << p << '\n';
        err().flush();
        return 1;
    }
    for (const SkinKey &k : kSkinKeys) {
        const QString key = QLatin1String(k.name);
        out() << key.leftJustified(16) << ' ';
        switch (store->kind(key)) {
        case SkinKind::Picture: {
            const QImage image = *store->picture(key);
            out() << "picture  " << image.width() << " x " << image.height();
            break;
        }
        case SkinKind::Number:
            out() << "number   " << *store->number(key);
            break;
        case SkinKind::Colour: {
            const quint32 ole = *store->colour(key);
            out() << "colour   " << formatSkinColour(ole)
                  << QStringLiteral(" (OLE 0x%1)")
                         .arg(QString::number(ole, 16).toUpper().rightJustified(8, u'0'));
            break;
        }
        case SkinKind::Absent:
            out() << "absent   (" << skinKindName(k.kind) << " expected)";
            break;
        }
        out() << '\n';
    }
    const QStringList missing = missingKeys(*store);
    out() << (33 - missing.size()) << " of 33 keys";
    if (!missing.isEmpty())
        out() << "; missing: " << missing.join(QStringLiteral(", "));
    out() << '\n';
    out().flush();
    for (const QString &p : problems)
        err() << "brelvon-skin: ignored: " << p << '\n';
    err().flush();
    return 0;
}

struct ZipDiscard
{
    void operator()(zip_t *z) const { zip_discard(z); }
};

int unpack(const QString &skinPath, const QString &dirPath)
{
    if (!QFileInfo(skinPath).isFile())
        return fail(skinPath + QStringLiteral(": no such file"));
    int error = 0;
    std::unique_ptr<zip_t, ZipDiscard> zip(
        zip_open(QFile::encodeName(skinPath).constData(), ZIP_RDONLY, &error));
    if (!zip)
        return fail(skinPath + QStringLiteral(": not a skin archive"));

    // Only skin.ini and KEY.png/KEY.bmp are taken out, the entries the program reads: their
    // names are fixed, so no entry can write outside DIR, and no two land in one file.
    std::vector<std::pair<QString, QByteArray>> files;
    QSet<QString> taken; // "skin.ini" and the picture keys already unpacked
    const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const QString name = QString::fromUtf8(zip_get_name(zip.get(), zip_uint64_t(i), 0));
        const bool isIni = name == QLatin1String("skin.ini");
        const QString key = isIni ? name : skinPictureKeyOfEntry(name);
        if (key.isEmpty()) {
            err() << "brelvon-skin: ignored: " << name << ": not a skin entry\n";
            continue;
        }
        if (taken.contains(key)) {
            err() << "brelvon-skin: ignored: " << name << ": a second entry for " << key << '\n';
            continue;
        }
        taken.insert(key);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip.get(), zip_uint64_t(i), 0, &st) != 0 ||
            ((st.valid & ZIP_STAT_SIZE) && st.size > zip_uint64_t(kSkinMaxEntryBytes)))
            return fail(name + QStringLiteral(": unreadable or larger than 16 MiB"));
        zip_file_t *file = zip_fopen_index(zip.get(), zip_uint64_t(i), 0);
        if (!file)
            return fail(name + QStringLiteral(": cannot open entry"));
        QByteArray bytes;
        char chunk[65536];
        zip_int64_t n;
        while ((n = zip_fread(file, chunk, sizeof chunk)) > 0 && bytes.size() <= kSkinMaxEntryBytes)
            bytes.append(chunk, qsizetype(n));
        zip_fclose(file);
        if (n < 0 || bytes.size() > kSkinMaxEntryBytes)
            return fail(name + QStringLiteral(": damaged entry"));
        files.emplace_back(name, bytes);
    }
    QDir dir;
    if (!dir.mkpath(dirPath))
        return fail(dirPath + QStringLiteral(": cannot create folder"));
    for (const auto &[name, bytes] : files) {
        if (QFileInfo::exists(QDir(dirPath).filePath(name)))
            return fail(QDir(dirPath).filePath(name) +
                        QStringLiteral(": exists already; nothing unpacked"));
    }
    for (const auto &[name, bytes] : files) {
        QSaveFile target(QDir(dirPath).filePath(name));
        if (!target.open(QIODevice::WriteOnly) || target.write(bytes) != bytes.size() ||
            !target.commit())
            return fail(target.fileName() +
                        QStringLiteral(": cannot write (%1)").arg(target.errorString()));
    }
    err().flush();
    out() << "unpacked " << files.size() << " entries into " << dirPath << '\n';
    return 0;
}

// The commands: name, what it does, its operands (name, meaning), and what runs it.
struct Command
{
    const char *name;
    const char *description;
    std::vector<std::pair<const char *, const char *>> operands;
    int (*run)(const QStringList &operands);
};

const Command kCommands[] = {
    {"pack",
     "Packs a skin folder (skin.ini and one KEY.png or KEY.bmp per picture key) into a skin file.\n"
     "Refuses files that are not skin keys, undecodable pictures and unknown skin.ini keys;\n"
     "warns about missing keys.",
     {{"DIR", "The skin folder."}, {"OUT.jss", "The skin file to write."}},
     [](const QStringList &o) { return pack(o[0], o[1]); }},
    {"list",
     "Lists every key of a skin file with its kind, picture size or value, and the missing keys.",
     {{"SKIN.jss", "The skin file."}},
     [](const QStringList &o) { return list(o[0]); }},
    {"unpack",
     "Unpacks a skin file's entries into a folder (created if need be); never overwrites a file.",
     {{"SKIN.jss", "The skin file."}, {"DIR", "The folder to unpack into."}},
     [](const QStringList &o) { return unpack(o[0], o[1]); }},
};

// The parser's help, its usage line naming the command (the parser knows only the program).
QString helpText(const QCommandLineParser &parser, const QString &command)
{
    QString text = parser.helpText();
    const qsizetype at = text.indexOf(QLatin1String(" [options]"));
    if (!command.isEmpty() && at >= 0 && at < text.indexOf(u'\n'))
        text.insert(at, u' ' + command);
    return text;
}

int usageError(const QString &command, const QString &message)
{
    err() << "brelvon-skin: " << message << "\nTry 'brelvon-skin "
          << (command.isEmpty() ? QString() : command + u' ') << "--help'.\n";
    return 2;
}

int run(const QStringList &arguments)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the program's version."));
    QCommandLineParser parser;
    QString description = QStringLiteral("Makes and inspects skin files.\n\nCommands:\n");
    for (const Command &c : kCommands) {
        QStringList operands;
        for (const auto &operand : c.operands)
            operands << QLatin1String(operand.first);
        description += QStringLiteral("  %1 %2\n").arg(QLatin1String(c.name), operands.join(u' '));
    }
    description += QStringLiteral("\n'brelvon-skin COMMAND --help' describes a command.\n"
                                  "Exit status: 0 done, 1 bad input or a file that cannot be read "
                                  "or written, 2 wrong usage.");
    parser.setApplicationDescription(description);
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("COMMAND"),
                                 QStringLiteral("pack, list or unpack."));
    parser.addPositionalArgument(QStringLiteral("ARGS"), QStringLiteral("The command's operands."),
                                 QStringLiteral("[ARGS...]"));
    // Everything after the command is the command's: "brelvon-skin pack --help".
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments))
        return usageError({}, parser.errorText());
    if (parser.isSet(help)) {
        out() << helpText(parser, {});
        return 0;
    }
    if (parser.isSet(version)) {
        out() << "brelvon-skin " << BRELVON_VERSION << '\n';
        return 0;
    }
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError({}, QStringLiteral("no command given (pack, list or unpack)"));
    const QString name = rest.takeFirst();
    const auto command =
        std::find_if(std::begin(kCommands), std::end(kCommands),
                     [&](const Command &c) { return name == QLatin1String(c.name); });
    if (command == std::end(kCommands))
        return usageError({}, QStringLiteral("unknown command: %1").arg(name));

    QCommandLineParser sub;
    sub.setApplicationDescription(QLatin1String(command->description));
    sub.addOption(help);
    QStringList operandNames;
    for (const auto &[operand, meaning] : command->operands) {
        sub.addPositionalArgument(QLatin1String(operand), QLatin1String(meaning));
        operandNames << QLatin1String(operand);
    }
    if (!sub.parse(QStringList{arguments.value(0)} + rest))
        return usageError(name, sub.errorText());
    if (sub.isSet(help)) {
        out() << helpText(sub, name);
        return 0;
    }
    const QStringList operands = sub.positionalArguments();
    if (operands.size() != qsizetype(command->operands.size()))
        return usageError(name, QStringLiteral("%1 takes %2").arg(name, operandNames.join(u' ')));
    return command->run(operands);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rc = run(app.arguments());
    out().flush();
    err().flush();
    return rc;
}
