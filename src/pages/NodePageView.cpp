#include "NodePageView.h"

#include "BottomLeftFrame.h"
#include "ImageRadioButton.h"
#include "PixelFont.h"

#include "api/NodeLists.h"
#include "api/QaroShared.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"

#include <QLabel>

namespace {

constexpr const char automaticTitle[] = "自动适配最佳线路";
constexpr int gridItems = 40;
constexpr int itemHeight = 24;

const std::vector<std::string> fallbackNames
    = {"香港", "日本", "美国", "新加坡", "德国", "韩国", "台湾", "巴西", "印度", "马来西亚"};

std::vector<std::string> storedNames(const char *key)
{
    std::vector<std::string> names;
    const auto list = UserDefaults::standard().list(key);
    if (!list)
        return names;
    for (const auto &element : *list) {
        if (!element.is_string())
            return {};
        names.push_back(element.get<std::string>());
    }
    return names;
}

bool contains(const std::vector<std::string> &names, const std::string &name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

int tagOf(const ImageRadioButton *item)
{
    return item->property("tag").toInt();
}

} // namespace

NodePageView::NodePageView(QWidget *parent)
    : LkPageView(parent)
{ }

std::string NodePageView::currentChoice()
{
    return QaroShared::shared().string(QaroShared::nodeNameKey).value_or("");
}

QString NodePageView::nodeTitle(const std::string &choice)
{
    return isAutomatic(choice) ? QString::fromUtf8(automaticTitle) : QString::fromStdString(choice);
}

bool NodePageView::isAutomatic(const std::string &choice)
{
    return choice.empty() || choice == automaticNode;
}

QString NodePageView::flagImageName(const std::string &name)
{
    // Tried in this order: "印度尼西亚" before "印度", so the longer name wins.
    static const std::pair<const char *, const char *> flags[] = {
        {"巴西", "ic_country_bx"},       {"香港", "ic_country_hongkong"},
        {"德国", "ic_country_germany"},  {"俄罗斯", "ic_country_russia"},
        {"法国", "ic_country_france"},   {"韩国", "ic_country_hg"},
        {"美国", "ic_country_america"},  {"墨西哥", "ic_country_mxg"},
        {"日本", "ic_country_japan"},    {"新加坡", "ic_country_singapore"},
        {"印度尼西亚", "ic_country_yn"}, {"印度", "ic_country_yd"},
        {"英国", "ic_country_england"},  {"巴基斯坦", "ic_country_bjst"},
        {"迪拜", "ic_country_db"},       {"菲律宾", "ic_country_flb"},
        {"马来西亚", "ic_country_mlxy"}, {"泰国", "ic_country_tg"},
        {"西班牙", "ic_country_spain"},  {"意大利", "ic_countryic_ydl"},
        {"印尼", "ic_country_yn"},       {"台湾", "ic_country_taiwan"},
    };
    if (!name.empty()) {
        for (const auto &[part, image] : flags) {
            if (name.find(part) != std::string::npos)
                return QLatin1String(image);
        }
    }
    return QStringLiteral("ic_country_auto");
}

void NodePageView::buildPage()
{
    LkPageView::buildPage();
    setStyleSheet(QStringLiteral("NodePageView { background-color: #FCFCFC; }"));
    const std::string choice = currentChoice();
    toolbarTitleLabel()->setText(nodeTitle(choice));

    const int W = width();
    const int C = height() - 48;
    const int iw = (W - 100) / 5;
    auto *content = new QWidget(this);
    content->setGeometry(bottomLeftFrame(QRectF(0, 0, W, C), height()));

    const auto placeItem = [&](const QRectF &frame, const std::string &name, int tag) {
        auto *item = new ImageRadioButton(content);
        item->configure(bottomLeftFrame(frame, C),
                        QString::fromStdString(name),
                        tag == autoRouteTag ? QStringLiteral("ic_country_auto")
                                            : flagImageName(name));
        item->setProperty("tag", tag);
        item->nodeTapBlock = [this](ImageRadioButton *tapped, bool isLocked) {
            itemTapped(tapped, isLocked);
        };
        return item;
    };
    m_autoRouteBtn = placeItem(QRectF(20, C - 35, iw, itemHeight), automaticTitle, autoRouteTag);

    auto *separator = new QWidget(content);
    separator->setAttribute(Qt::WA_StyledBackground);
    separator->setStyleSheet(QStringLiteral("background-color: #e8e8e8;"));
    separator->setGeometry(bottomLeftFrame(QRectF(20, C - 50, W, 1), C));
    auto *heading = new QLabel(QStringLiteral("国家地区"), content);
    setPixelFont(heading, 14, true);
    heading->setStyleSheet(QStringLiteral("color: #3F3934;"));
    heading->setGeometry(bottomLeftFrame(QRectF(20, C - 89, iw, 24), C));

    const std::vector<std::string> names = storedNames(UserDefaultsCacheKeys::allNodes);
    if (const auto subscription = UserDefaults::standard().list(UserDefaultsCacheKeys::subNodes);
        subscription && std::all_of(subscription->begin(), subscription->end(), [](const auto &e) {
            return e.is_string();
        }))
        m_myNodes = storedNames(UserDefaultsCacheKeys::subNodes);

    if (isAutomatic(choice)) {
        m_autoRouteBtn->setItemState(ImageRadioButton::State::selected);
        m_lastSelectedItem = m_autoRouteBtn;
    } else {
        m_autoRouteBtn->setItemState(ImageRadioButton::State::unselected);
    }

    for (int i = 0; i < gridItems; ++i) {
        const int r = i / 5;
        const int c = i % 5;
        std::string name;
        if (std::size_t(i) < names.size())
            name = names[std::size_t(i)];
        else if (names.empty() && std::size_t(i) < fallbackNames.size())
            name = fallbackNames[std::size_t(i)];
        ImageRadioButton *item
            = placeItem(QRectF(20 + c * (iw + 20), C - 128 - 39 * r, iw, itemHeight),
                        name,
                        firstNodeTag + i);
        item->setItemState(ImageRadioButton::State::unselected);
        item->setVisible(!name.empty());
        m_myNodeItmes.push_back(item);
        if (m_myNodes.empty())
            continue;
        if (!contains(m_myNodes, name)) {
            item->setItemState(ImageRadioButton::State::locked);
        } else if (!choice.empty() && name == choice) {
            item->setItemState(ImageRadioButton::State::selected);
            m_lastSelectedItem = item;
        }
    }
    startListRequests();
}

void NodePageView::startListRequests()
{
    std::weak_ptr<int> alive = m_alive;
    NodeLists::loadNodeNames(m_alive, [this, alive](const auto &names, const auto &error) {
        if (alive.expired())
            return;
        if (error) {
            reportFailure(*error);
            return;
        }
        if (!names || names->empty())
            return;
        const std::vector<std::string> shown = *names;
        Platform::mainQueue().async([this, alive, shown] {
            if (alive.expired())
                return;
            NodeLists::loadSubscribeNodeList(m_alive,
                                             [this, alive, shown](const auto &remarks,
                                                                  const auto &error) {
                                                 if (alive.expired())
                                                     return;
                                                 if (error) {
                                                     reportFailure(*error);
                                                     refreshNodes(shown, std::nullopt);
                                                     return;
                                                 }
                                                 if (remarks)
                                                     refreshNodes(shown, *remarks);
                                             });
        });
    });
}

void NodePageView::reportFailure(const KvNetWorkError &error)
{
    Platform::Log::print("error:" + error.localizedDescription());
    std::string text;
    switch (error.kind()) {
    case KvNetWorkError::Kind::invalidHost:
        text = "无效域名";
        break;
    case KvNetWorkError::Kind::dataAnalysis:
        text = "数据有误:" + error.localizedDescription();
        break;
    case KvNetWorkError::Kind::msg:
        text = error.text();
        break;
    }
    if (nodeStateChangeBlock)
        nodeStateChangeBlock(std::nullopt, text);
}

void NodePageView::refreshNodes(const std::vector<std::string> &names,
                                const std::optional<std::vector<std::string>> &subscription)
{
    const std::string choice = currentChoice();
    m_autoRouteBtn->setItemState(isAutomatic(choice) ? ImageRadioButton::State::selected
                                                     : ImageRadioButton::State::unselected);
    if (!subscription)
        return;
    for (std::size_t i = 0; i < m_myNodeItmes.size(); ++i) {
        ImageRadioButton *item = m_myNodeItmes[i];
        item->setProperty("tag", firstNodeTag + int(i));
        if (i >= names.size()) {
            item->hide();
            continue;
        }
        const std::string &name = names[i];
        item->show();
        item->setTitle(QString::fromStdString(name));
        item->setFlagImage(flagImageName(name));
        if (!contains(*subscription, name)) {
            item->setItemState(ImageRadioButton::State::locked);
            // A locked node is no selection, not even the last one.
            if (item == m_lastSelectedItem)
                m_lastSelectedItem = nullptr;
        } else if (!choice.empty() && name == choice) {
            item->setItemState(ImageRadioButton::State::selected);
            m_lastSelectedItem = item;
        } else {
            item->setItemState(ImageRadioButton::State::unselected);
        }
    }
}

void NodePageView::itemTapped(ImageRadioButton *item, bool isLocked)
{
    const bool automatic = item == m_autoRouteBtn;
    if (!automatic && isLocked) {
        report(std::nullopt, "升级会员后可解锁使用");
        return;
    }
    if (m_lastSelectedItem) {
        Platform::Log::print("恢复上一上选中状态：" + std::to_string(tagOf(m_lastSelectedItem)));
        m_lastSelectedItem->setItemState(ImageRadioButton::State::unselected);
    }
    if (automatic) {
        report(std::string(), "已切换至[自动适配最佳线路]");
    } else {
        const std::string name = item->title().toStdString();
        report(name, "已切换至[" + name + "]线路");
    }
    Platform::Log::print("切换选中：" + std::to_string(tagOf(item)));
    m_lastSelectedItem = item;
}

void NodePageView::report(const std::optional<std::string> &name, const std::string &message)
{
    if (nodeStateChangeBlock)
        nodeStateChangeBlock(name, message);
}
