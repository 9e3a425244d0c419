#include "mainwindow/settingsdialog.h"

#include "lookup/configcache.h"
#include "lookup/lookuprunner.h"
#include "lookup/lookupsession.h"
#include "mainwindow/accessibility.h"
#include "model/lookupstatus.h"
#include "model/ownerfolders.h"
#include "web/texthelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

enum Kind { HostField, TextField, NumberField, BoolField, EncodingField, SortField };

// The choices of a list field: the value the file holds, the words the dialog shows.
QList<std::pair<QString, QString>> choices(int kind)
{
    if (kind == EncodingField)
        return {{QStringLiteral("auto"), QObject::tr("自动识别")},
                {QStringLiteral("gbk"), QStringLiteral("GBK")},
                {QStringLiteral("utf-8"), QStringLiteral("UTF-8")}};
    return {{QStringLiteral("file"), QObject::tr("按文件中的顺序")},
            {QStringLiteral("risk"), QObject::tr("按风险，高风险在前")}};
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString numberText(double value)
{
    return QString::number(value, 'g', 12);
}

} // namespace

struct SettingsDialog::Field
{
    QString key; // "section/name"
    int kind = TextField;
    QString defaultText;
    QString rule; // the reason shown when the program refuses the value
    QLineEdit *line = nullptr;
    QCheckBox *check = nullptr;
    QComboBox *combo = nullptr;
    QLabel *error = nullptr;
    QString loaded; // the text shown when the file was read

    QString section() const { return key.section(u'/', 0, 0); }
    QString name() const { return key.section(u'/', 1); }
    QString text() const
    {
        if (check)
            return boolText(check->isChecked());
        if (combo)
            return combo->currentData().toString();
        return line->text().trimmed();
    }
    void setText(const QString &text)
    {
        if (check) {
            const QString t = text.trimmed().toLower();
            check->setChecked(t == QLatin1String("true") || t == QLatin1String("1"));
        } else if (combo) {
            const QString value = text.trimmed().toLower();
            int index = combo->findData(value);
            // A value the file holds that is none of the choices shows as it is, and is refused
            // when saved.
            if (index < 0 && !value.isEmpty()) {
                combo->addItem(value, value);
                index = combo->count() - 1;
            }
            combo->setCurrentIndex(index < 0 ? 0 : index);
        } else {
            line->setText(text);
        }
    }
    void setProblem(const QString &why)
    {
        error->setText(why);
        error->setVisible(!why.isEmpty());
    }
};

SettingsDialog::SettingsDialog(const QString &settingsPath, QWidget *parent)
    : QDialog(parent), m_path(settingsPath)
{
    setObjectName(QStringLiteral("SettingsDialog"));
    setWindowTitle(tr("设置"));
    installAccessibility();
    m_testTimer = new QTimer(this);
    m_testTimer->setInterval(1000);
    connect(m_testTimer, &QTimer::timeout, this, &SettingsDialog::showTestProgress);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("settingsSections"));
    m_tabs->addTab(buildServerPage(), tr("服务器"));
    m_tabs->addTab(buildQueryPage(), tr("查询"));
    m_tabs->addTab(buildBatchPage(), tr("批量"));
    m_tabs->addTab(buildRiskPage(), tr("风险"));
    m_tabs->addTab(buildStoragePage(), tr("记录"));
    m_tabs->addTab(buildWatchPage(), tr("监视"));

    m_problemLine = new QLabel(this);
    m_problemLine->setObjectName(QStringLiteral("settingsProblem"));
    m_problemLine->setStyleSheet(QStringLiteral("color: #D00000;"));
    m_problemLine->setWordWrap(true);
    m_problemLine->hide();

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *saveButton = buttons->addButton(tr("保存"), QDialogButtonBox::AcceptRole);
    saveButton->setObjectName(QStringLiteral("saveSettingsButton"));
    QPushButton *cancelButton = buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("cancelSettingsButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_problemLine);
    layout->addWidget(buttons);

    loadFields();
}

SettingsDialog::~SettingsDialog()
{
    // The runner goes before the service it may run on: it cancels the test, whose fetches
    // notice within a tenth of a second, and drops its result.
    delete m_testRunner;
}

void SettingsDialog::addField(QGridLayout *grid, const QString &key, const QString &label, int kind,
                              const QString &defaultText, const QString &rule, bool showDefault)
{
    auto f = std::make_unique<Field>();
    f->key = key;
    f->kind = kind;
    f->defaultText = defaultText;
    f->rule = rule;
    QWidget *parent = grid->parentWidget();
    const int row = grid->rowCount();
    QWidget *editor = nullptr;
    if (kind == BoolField) {
        f->check = new QCheckBox(label, parent);
        editor = f->check;
    } else {
        auto *name = new QLabel(label, parent);
        grid->addWidget(name, row, 0);
        if (kind == EncodingField || kind == SortField) {
            f->combo = new QComboBox(parent);
            // Named before it has items: a screen reader meets it as it fills.
            f->combo->setAccessibleName(label);
            for (const auto &[value, words] : choices(kind))
                f->combo->addItem(words, value);
            editor = f->combo;
        } else {
            f->line = new QLineEdit(parent);
            editor = f->line;
        }
        name->setBuddy(editor);
    }
    Field *edited = f.get();
    if (f->check)
        connect(f->check, &QCheckBox::toggled, this, [this, edited] { fieldEdited(edited); });
    else if (f->combo)
        connect(f->combo, &QComboBox::currentIndexChanged, this,
                [this, edited] { fieldEdited(edited); });
    else
        connect(f->line, &QLineEdit::textEdited, this, [this, edited] { fieldEdited(edited); });
    editor->setObjectName(key);
    // Screen readers name the field by its label.
    editor->setAccessibleName(label);
    grid->addWidget(editor, row, 1);
    if (showDefault) {
        auto *shown =
            new QLabel(tr("默认：%1")
                           .arg(kind == BoolField
                                    ? (defaultText == QLatin1String("true") ? tr("是") : tr("否"))
                                    : defaultText),
                       parent);
        shown->setStyleSheet(QStringLiteral("color: #606060;"));
        grid->addWidget(shown, row, 2);
    }
    f->error = new QLabel(parent);
    f->error->setObjectName(key + QLatin1String("/error"));
    f->error->setStyleSheet(QStringLiteral("color: #D00000;"));
    f->error->setWordWrap(true);
    f->error->hide();
    // Under its field, so a reason never widens the dialog.
    grid->addWidget(f->error, row + 1, 1, 1, 2);
    m_fields.push_back(std::move(f));
}

QWidget *SettingsDialog::buildServerPage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    m_firstRun = new QLabel(
        tr("还没有设置文件。请填写我们网站的服务器（主机名 或 主机名:端口），点“测试连接”"
           "检查后保存。服务器的名字写在我们网站上本程序的下载页上；还没有的话，可以先用内置的"
           "演示站点试用（只在本次运行中有效）。"),
        page);
    m_firstRun->setObjectName(QStringLiteral("firstRunNote"));
    m_firstRun->setWordWrap(true);
    m_firstRun->hide();
    layout->addWidget(m_firstRun);
    m_demoButton = new QPushButton(tr("使用演示站点"), page);
    m_demoButton->setObjectName(QStringLiteral("useDemoSiteButton"));
    m_demoButton->hide();
    connect(m_demoButton, &QPushButton::clicked, this, [this] {
        emit demoSiteChosen();
        QDialog::done(QDialog::Rejected);
    });
    layout->addWidget(m_demoButton, 0, Qt::AlignLeft);

    auto *form = new QWidget(page);
    auto *grid = new QGridLayout(form);
    const QString hostRule = tr("应为 主机名 或 主机名:端口，不带 http:// 和路径");
    addField(grid, QStringLiteral("hosts/main"), tr("主服务器"), HostField, QString(), hostRule);
    addField(grid, QStringLiteral("hosts/second"), tr("备用服务器"), HostField, QString(),
             hostRule);
    addField(grid, QStringLiteral("hosts/tradecard"), tr("名片服务器"), HostField, QString(),
             hostRule);
    const QuerySettings demo = demoSettings(QString());
    addField(grid, QStringLiteral("viewer/nameCardLogin"), tr("名片页查看者"), TextField,
             demo.nameCardLogin, QString());
    addNote(grid, tr("读买家名片页时以这个旺旺登录名的身份查看；不必是您的账号，默认值即可使用。"));
    addField(grid, QStringLiteral("viewer/popupLogin"), tr("弹出名片页查看者"), TextField,
             demo.popupLogin, QString());
    addNote(grid, tr("读买家弹出名片页（注册时间、地区）时用的登录名；默认值即可使用。"));
    addField(grid, QStringLiteral("network/proxy"), tr("代理服务器"), TextField, QString(),
             tr("应为空、system、http://[用户名:密码@]主机:端口 或 socks5://主机:端口"));
    auto *proxyNote = new QLabel(tr("留空：直接连接；system：使用环境变量里的代理；"
                                    "http://主机:端口 或 socks5://主机:端口：所有请求（测试连接和"
                                    "内置浏览器也一样）都经过这个代理。演示站点总是直接连接。"),
                                 form);
    proxyNote->setObjectName(QStringLiteral("proxyNote"));
    proxyNote->setWordWrap(true);
    proxyNote->setStyleSheet(QStringLiteral("color: #606060;"));
    grid->addWidget(proxyNote, grid->rowCount(), 1, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addWidget(form);

    auto *buttons = new QHBoxLayout;
    m_testButton = new QPushButton(tr("测试连接"), page);
    m_testButton->setObjectName(QStringLiteral("testConnectionButton"));
    m_cancelTestButton = new QPushButton(tr("停止测试"), page);
    m_cancelTestButton->setObjectName(QStringLiteral("cancelConnectionTestButton"));
    m_cancelTestButton->setEnabled(false);
    connect(m_testButton, &QPushButton::clicked, this, &SettingsDialog::startConnectionTest);
    connect(m_cancelTestButton, &QPushButton::clicked, this, &SettingsDialog::cancelConnectionTest);
    buttons->addWidget(m_testButton);
    buttons->addWidget(m_cancelTestButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    m_resultsBox = new QPlainTextEdit(page);
    m_resultsBox->setObjectName(QStringLiteral("connectionResults"));
    m_resultsBox->setReadOnly(true);
    m_resultsBox->setPlaceholderText(tr("测试结果显示在这里"));
    m_resultsBox->setAccessibleName(tr("测试结果"));
    layout->addWidget(m_resultsBox, 1);
    return page;
}

QWidget *SettingsDialog::buildQueryPage()
{
    auto *page = new QWidget;
    auto *grid = new QGridLayout(page);
    const QuerySettings d;
    addField(grid, QStringLiteral("query/parallelPages"), tr("同时获取一个买家的三组页面"),
             BoolField, boolText(d.parallelPages), QString());
    addField(grid, QStringLiteral("query/blockMarkers"), tr("拦截页标记（用 | 分隔）"), TextField,
             builtInBlockMarkers().join(u'|'), QString());
    addField(grid, QStringLiteral("query/maxConfigAgeDays"), tr("保存的查询配置最多使用（天）"),
             NumberField, QString::number(d.maxConfigAgeDays), tr("应为 1 到 3650 之间的整数"));
    addField(grid, QStringLiteral("query/lookupTimeoutSec"), tr("一次查询最多用时（秒）"),
             NumberField, QString::number(d.lookupTimeoutSec), tr("应为 5 到 600 之间的整数"));
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(grid->rowCount(), 1);
    return page;
}

QWidget *SettingsDialog::buildBatchPage()
{
    auto *page = new QWidget;
    auto *grid = new QGridLayout(page);
    const QuerySettings d;
    addField(grid, QStringLiteral("batch/jobs"), tr("同时查询的买家数"), NumberField,
             QString::number(d.batchJobs), tr("应为 1 到 8 之间的整数"));
    addField(grid, QStringLiteral("batch/paceMs"), tr("同一服务器两次请求至少间隔（毫秒）"),
             NumberField, QString::number(d.batchPaceMs), tr("应为 0 到 600000 之间的整数"));
    addField(grid, QStringLiteral("batch/blockedPauseSec"), tr("页面被拦截时暂停（秒）"),
             NumberField, QString::number(d.blockedPauseSec), tr("应为 1 到 3600 之间的整数"));
    addField(grid, QStringLiteral("batch/reuseWithinMinutes"),
             tr("多少分钟内查过的买家取自历史（0 不取）"), NumberField,
             QString::number(d.reuseWithinMinutes), tr("应为 0 到 10080 之间的整数"));
    addField(grid, QStringLiteral("batch/idFileEncoding"), tr("ID 文件编码"), EncodingField,
             QStringLiteral("auto"), tr("应为 自动识别、GBK 或 UTF-8"));
    addField(grid, QStringLiteral("batch/extraColumns"), tr("表格加上信用、风险和页面结果列"),
             BoolField, boolText(d.extraColumns), QString());
    // Order exports and longer batches.
    addField(grid, QStringLiteral("batch/maxIds"), tr("一次最多查询的买家数"), NumberField,
             QString::number(d.batchMaxIds), tr("应为 1 到 2000 之间的整数"));
    addField(grid, QStringLiteral("batch/buyerColumn"),
             tr("订单导出的买家列（留空：买家会员名等）"), TextField, QString(), QString());
    addField(grid, QStringLiteral("batch/sort"), tr("表格排序"), SortField, QStringLiteral("file"),
             tr("应为 按文件中的顺序 或 按风险"));
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(grid->rowCount(), 1);
    return page;
}

QWidget *SettingsDialog::buildRiskPage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    auto *form = new QWidget(page);
    auto *grid = new QGridLayout(form);
    const RiskSettings d;
    addField(grid, QStringLiteral("risk/newAccountDays"), tr("注册不到（天，0 不判断）"),
             NumberField, QString::number(d.newAccountDays), tr("应为 0 到 36500 之间的整数"),
             true);
    addField(grid, QStringLiteral("risk/minGoodRate"), tr("好评率低于（%）"), NumberField,
             numberText(d.minGoodRate), tr("应为 0 到 100 之间的数"), true);
    addField(grid, QStringLiteral("risk/badGivenAtLeast"), tr("给别人差评达到（0 不判断）"),
             NumberField, QString::number(d.badGivenAtLeast), tr("应为 0 到 1000000 之间的整数"),
             true);
    addField(grid, QStringLiteral("risk/minCreditScore"), tr("信用积分低于"), NumberField,
             QString::number(d.minCreditScore), tr("应为整数"), true);
    addField(grid, QStringLiteral("risk/requireVerification"), tr("没有任何认证算一个原因"),
             BoolField, boolText(d.requireVerification), QString(), true);
    addField(grid, QStringLiteral("risk/highAtReasons"), tr("几个原因算高风险"), NumberField,
             QString::number(d.highAtReasons), tr("应为 1 到 6 之间的整数"), true);
    grid->setColumnStretch(1, 1);
    layout->addWidget(form);
    auto *restore = new QPushButton(tr("恢复默认"), page);
    restore->setObjectName(QStringLiteral("restoreRiskDefaultsButton"));
    connect(restore, &QPushButton::clicked, this, &SettingsDialog::restoreRiskDefaults);
    layout->addWidget(restore, 0, Qt::AlignLeft);
    layout->addStretch();
    return page;
}

QWidget *SettingsDialog::buildWatchPage()
{
    auto *page = new QWidget;
    auto *grid = new QGridLayout(page);
    const QuerySettings d;
    addField(grid, QStringLiteral("watch/folder"), tr("监视的订单文件夹（留空：不监视）"),
             TextField, QString(), QString());
    auto *choose = new QPushButton(tr("选择…"), page);
    choose->setObjectName(QStringLiteral("chooseWatchFolderButton"));
    choose->setAccessibleName(tr("选择监视的订单文件夹"));
    connect(choose, &QPushButton::clicked, this, &SettingsDialog::chooseWatchFolder);
    grid->addWidget(choose, grid->rowCount() - 2, 2); // the field's row, above its reason
    addField(grid, QStringLiteral("watch/outputFolder"),
             tr("检查结果表格存放处（留空：订单文件旁）"), TextField, QString(), QString());
    addField(grid, QStringLiteral("watch/archive"), tr("检查完的订单文件移入 done 文件夹"),
             BoolField, boolText(d.watchArchive), QString());
    addField(grid, QStringLiteral("watch/notify"), tr("桌面通知"), BoolField,
             boolText(d.watchNotify), QString());
    addField(grid, QStringLiteral("window/closeToTray"), tr("关闭时最小化到托盘"), BoolField,
             boolText(d.closeToTray), QString());
    addField(grid, QStringLiteral("window/startAtLogin"), tr("登录时启动（隐藏）"), BoolField,
             boolText(d.startAtLogin), QString());
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(grid->rowCount(), 1);
    return page;
}

QWidget *SettingsDialog::buildStoragePage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    auto *form = new QWidget(page);
    auto *grid = new QGridLayout(form);
    addField(grid, QStringLiteral("storage/database"), tr("数据库文件（留空：默认位置）"),
             TextField, QString(), QString());
    auto *choose = new QPushButton(tr("选择…"), form);
    choose->setObjectName(QStringLiteral("chooseDatabaseButton"));
    choose->setAccessibleName(tr("选择数据库文件"));
    connect(choose, &QPushButton::clicked, this, &SettingsDialog::chooseDatabase);
    grid->addWidget(choose, grid->rowCount() - 2, 2); // the field's row, above its reason
    addField(grid, QStringLiteral("storage/history"), tr("记录查询历史"), BoolField,
             boolText(StorageSettings().history), QString());
    grid->setColumnStretch(1, 1);
    layout->addWidget(form);
    auto *note = new QLabel(tr("换用别的数据库文件，下次启动时生效。"), page);
    note->setStyleSheet(QStringLiteral("color: #606060;"));
    layout->addWidget(note);
    auto *open = new QPushButton(tr("打开数据所在文件夹"), page);
    open->setObjectName(QStringLiteral("openDataFolderButton"));
    connect(open, &QPushButton::clicked, this, &SettingsDialog::openDataFolder);
    layout->addWidget(open, 0, Qt::AlignLeft);
    layout->addStretch();
    return page;
}

SettingsDialog::Field *SettingsDialog::field(const QString &key) const
{
    for (const auto &f : m_fields) {
        if (f->key == key)
            return f.get();
    }
    return nullptr;
}

void SettingsDialog::loadFields()
{
    QString error;
    if (!m_document.load(m_path, &error)) {
        m_problem = error;
        m_problemLine->setText(error);
        m_problemLine->show();
    } else if (!QFileInfo::exists(m_path)) {
        // A new file starts as the commented template, so its comments explain each key.
        m_document.setText(settingsTemplateText());
    }
    for (const auto &f : m_fields) {
        const std::optional<QString> value = m_document.value(f->section(), f->name());
        f->setText(value && !value->isEmpty() ? *value : f->defaultText);
        f->loaded = f->text();
    }
}

QString SettingsDialog::fieldText(const QString &key) const
{
    const Field *f = field(key);
    return f ? f->text() : QString();
}

void SettingsDialog::setFieldText(const QString &key, const QString &text)
{
    if (Field *f = field(key))
        f->setText(text);
}

QString SettingsDialog::fieldProblem(const QString &key) const
{
    const Field *f = field(key);
    return f && !f->error->isHidden() ? f->error->text() : QString();
}

void SettingsDialog::showSection(Section section)
{
    m_tabs->setCurrentIndex(int(section));
}

void SettingsDialog::setFirstRun(bool firstRun)
{
    m_firstRun->setVisible(firstRun);
    m_demoButton->setVisible(firstRun);
    if (firstRun)
        showSection(Server);
}

void SettingsDialog::restoreRiskDefaults()
{
    for (const auto &f : m_fields) {
        if (f->section() == QLatin1String("risk"))
            f->setText(f->defaultText);
    }
}

bool SettingsDialog::checkFields(IniDocument *document, QuerySettings *settings,
                                 StorageSettings *storage)
{
    bool ok = true;
    for (const auto &f : m_fields) {
        f->setProblem(QString());
        // A value is one line of the file: a line break in it is refused, not written.
        if (f->text().contains(u'\n') || f->text().contains(u'\r')) {
            f->setProblem(tr("不能包含换行符"));
            ok = false;
            continue;
        }
        // Only what changed is written: the file's other lines stay as they are.
        if (f->text() != f->loaded)
            document->setValue(f->section(), f->name(), f->text());
    }
    // The hosts, as the program checks them.
    bool anyHost = false;
    for (const HostKey &host : kHostKeys) {
        Field *f = field(QLatin1String(host.key));
        if (f->text().isEmpty())
            continue;
        anyHost = true;
        if (!isHostPort(f->text())) {
            f->setProblem(f->rule);
            ok = false;
        }
    }
    if (!anyHost) {
        field(QStringLiteral("hosts/main"))->setProblem(tr("至少填写一个服务器"));
        ok = false;
    }
    if (!readProxyField(nullptr))
        ok = false;
    // Every other value as the program reads it: a copy with a placeholder host goes through the
    // same reader; whatever it would refuse is named next to its field.
    QTemporaryDir dir;
    IniDocument probe = *document;
    probe.setValue(QStringLiteral("hosts"), QStringLiteral("main"), QStringLiteral("localhost"));
    for (const HostKey &host : kHostKeys)
        if (host.host != &QuerySettings::mainHost)
            probe.setValue(QStringLiteral("hosts"), QLatin1String(host.key + 6), QString());
    const QString probePath = dir.filePath(QStringLiteral("probe.conf"));
    QString error;
    QStringList problems;
    QuerySettings read;
    if (!dir.isValid() || !probe.save(probePath, &error) ||
        !loadQuerySettings(probePath, &read, &error, &problems)) {
        m_problem = error.isEmpty() ? tr("无法检查设置") : error;
        return false;
    }
    loadStorageSettings(probePath, &problems);
    for (const QString &problem : problems) {
        bool named = false;
        for (const auto &f : m_fields) {
            if (problem.contains(QStringLiteral("[%1] %2=").arg(f->section(), f->name()))) {
                f->setProblem(f->rule.isEmpty() ? tr("应为“是”或“否”") : f->rule);
                named = true;
            }
        }
        if (!named)
            m_problem = problem;
        ok = false;
    }
    if (!ok)
        return false;
    for (const HostKey &host : kHostKeys)
        read.*host.host = field(QLatin1String(host.key))->text();
    *settings = read;
    *storage = StorageSettings();
    return true;
}

bool SettingsDialog::save()
{
    m_problem.clear();
    IniDocument document = m_document;
    QuerySettings settings;
    StorageSettings storage;
    if (!document.isUtf8()) {
        // Its other lines could not be kept as they are: nothing is written.
        QString error;
        document.save(m_path, &error);
        m_problem = error;
        m_problemLine->setText(error);
        m_problemLine->show();
        return false;
    }
    if (!checkFields(&document, &settings, &storage)) {
        // Show the first section with a refused field.
        for (const auto &f : m_fields) {
            if (!f->error->isHidden()) {
                for (int i = 0; i < m_tabs->count(); ++i) {
                    if (m_tabs->widget(i)->isAncestorOf(f->error))
                        m_tabs->setCurrentIndex(i);
                }
                break;
            }
        }
        if (m_problem.isEmpty())
            m_problem = tr("有设置值不正确，未保存。");
        m_problemLine->setText(m_problem);
        m_problemLine->show();
        return false;
    }
    QString error;
    if (!document.save(m_path, &error)) {
        m_problem = error;
        m_problemLine->setText(error);
        m_problemLine->show();
        return false;
    }
    m_problemLine->hide();
    m_document = document;
    for (const auto &f : m_fields)
        f->loaded = f->text();
    // Read back as the program reads it: a relative database name is the file's folder's.
    QStringList problems;
    loadQuerySettings(m_path, &settings, &error, &problems);
    storage = loadStorageSettings(m_path, &problems);
    emit saved(settings, storage);
    return true;
}

void SettingsDialog::accept()
{
    if (save())
        QDialog::accept();
}

void SettingsDialog::done(int result)
{
    cancelConnectionTest();
    QDialog::done(result);
}

void SettingsDialog::startConnectionTest()
{
    if (connectionTestRunning())
        return;
    QuerySettings hosts;
    bool ok = true;
    for (const HostKey &host : kHostKeys) {
        Field *f = field(QLatin1String(host.key));
        f->setProblem(QString());
        QString &value = hosts.*host.host;
        value = f->text();
        if (!value.isEmpty() && !isHostPort(value)) {
            f->setProblem(f->rule);
            ok = false;
        }
    }
    // The test goes the way lookups would with these settings: through the proxy typed here.
    if (!readProxyField(&hosts.network))
        ok = false;
    if (!ok)
        return;
    if (hosts.mainHost.isEmpty() && hosts.secondHost.isEmpty() && hosts.tradeCardHost.isEmpty()) {
        field(QStringLiteral("hosts/main"))->setProblem(tr("至少填写一个服务器"));
        return;
    }
    m_results.clear();
    m_testButton->setEnabled(false);
    m_cancelTestButton->setEnabled(true);
    m_testedHosts = hosts;
    m_testClock.start();
    showTestProgress();
    m_testTimer->start();
    const QPointer<SettingsDialog> self(this);
    testRunner()->connectionTest(hosts,
                                 [self](const QList<ConnectionCheck> &checks, bool cancelled) {
                                     if (self)
                                         self->finishConnectionTest(checks, cancelled);
                                 });
}

bool SettingsDialog::readProxyField(NetworkSettings *network)
{
    Field *f = field(QStringLiteral("network/proxy"));
    f->setProblem(QString());
    NetworkSettings read;
    QString badVariable;
    if (!NetworkSettings::fromProxyText(f->text(), &read, &badVariable)) {
        f->setProblem(badVariable.isEmpty()
                          ? f->rule
                          : tr("环境变量 %1 不是代理地址（http://主机:端口 或 socks5://主机:端口）")
                                .arg(badVariable));
        return false;
    }
    if (network)
        *network = read;
    return true;
}

bool SettingsDialog::connectionTestRunning() const
{
    return m_testRunner && m_testRunner->isRunning();
}

void SettingsDialog::setLookupService(LookupService *service)
{
    if (m_testRunner && m_testRunner->service() != service) {
        delete m_testRunner; // cancels and waits for a test under way
        m_testRunner = nullptr;
    }
    m_service = service;
}

LookupRunner *SettingsDialog::testRunner()
{
    if (!m_testRunner) {
        if (!m_service) // the dialog on its own (tests): a session of its own
            m_service = &(new LookupSession(QuerySettings(), this))->service();
        m_testRunner = new LookupRunner(m_service, this);
    }
    return m_testRunner;
}

void SettingsDialog::cancelConnectionTest()
{
    if (m_testRunner)
        m_testRunner->cancel();
}

void SettingsDialog::showTestProgress()
{
    QStringList lines;
    const qint64 seconds = m_testClock.elapsed() / 1000;
    const QString names[] = {tr("主服务器"), tr("备用服务器"), tr("名片服务器")};
    for (size_t i = 0; i < std::size(kHostKeys); ++i) {
        const QString host = m_testedHosts.*kHostKeys[i].host;
        if (!host.isEmpty())
            lines.append(tr("正在测试%1 %2…").arg(names[i], host));
    }
    lines.append(tr("已用 %1 秒").arg(seconds));
    m_resultsBox->setPlainText(lines.join(u'\n'));
}

void SettingsDialog::fieldEdited(Field *f)
{
    if (!isVisible()) // filled in by the program, not edited
        return;
    f->setProblem(QString());
    if (m_problemLine->isVisible()) {
        m_problemLine->hide();
        m_problem.clear();
    }
    // A test's results are of the hosts as they were.
    if (f->section() == QLatin1String("hosts") && !connectionTestRunning()) {
        m_results.clear();
        m_resultsBox->clear();
    }
}

void SettingsDialog::addNote(QGridLayout *grid, const QString &text)
{
    auto *note = new QLabel(text, grid->parentWidget());
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: #606060;"));
    // Below the field's reason, which takes the row after the field.
    grid->addWidget(note, grid->rowCount(), 1, 1, 2);
}

void SettingsDialog::chooseWatchFolder()
{
    Field *f = field(QStringLiteral("watch/folder"));
    const QString chosen =
        QFileDialog::getExistingDirectory(this, tr("监视的订单文件夹"), f->text());
    if (!chosen.isEmpty()) {
        f->setText(QDir::toNativeSeparators(chosen));
        fieldEdited(f);
    }
}

void SettingsDialog::finishConnectionTest(const QList<ConnectionCheck> &checks, bool cancelled)
{
    m_testTimer->stop();
    m_results = checks;
    QStringList lines;
    for (const ConnectionCheck &check : checks)
        lines.append(check.summaryText());
    if (!cancelled) {
        const QString aged =
            agedOutConfigurationText(checks, ConfigCache(ConfigCache::defaultFolder()),
                                     m_testedHosts, QDateTime::currentDateTimeUtc());
        if (!aged.isEmpty())
            lines.append(aged);
    }
    if (cancelled)
        lines.append(tr("测试已停止。"));
    else if (connectionsUsable(checks) && isBlank(m_testedHosts.tradeCardHost))
        lines.append(tr("可以查询，但") + noTradeCardHostText() + tr("。"));
    else if (connectionsUsable(checks))
        lines.append(tr("全部正常：可以查询。"));
    else
        lines.append(tr("有服务器未给出查询配置或没有应答。"));
    m_resultsBox->setPlainText(lines.join(u'\n'));
    m_testButton->setEnabled(true);
    m_cancelTestButton->setEnabled(false);
    emit connectionTestFinished();
}

void SettingsDialog::chooseDatabase()
{
    Field *f = field(QStringLiteral("storage/database"));
    const QString start = f->text().isEmpty() ? defaultDatabasePath() : f->text();
    const QString chosen = QFileDialog::getSaveFileName(this, tr("数据库文件"), start,
                                                        tr("数据库 (*.sqlite *.db);;所有文件 (*)"),
                                                        nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty()) {
        f->setText(QDir::toNativeSeparators(chosen));
        fieldEdited(f);
    }
}

void SettingsDialog::openDataFolder()
{
    const QString database = field(QStringLiteral("storage/database"))->text();
    QString folder =
        QFileInfo(database.isEmpty() ? defaultDatabasePath() : database).absolutePath();
    // Made as the database would make it: owner-only.
    QString reason;
    makeMissingFolders(folder, &reason);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
