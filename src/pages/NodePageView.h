#pragma once

#include "LkPageView.h"

#include "api/NetWorkTool.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ImageRadioButton;

// The page on which the user picks the node the tunnel uses, or the automatic best route: up to
// forty nodes in a five-column grid with their flags, the nodes outside the subscription
// locked. It only reports choices (nodeStateChangeBlock); the console acts on them.
class NodePageView : public LkPageView
{
    Q_OBJECT

public:
    using Report = std::function<void(const std::optional<std::string> &name,
                                      const std::optional<std::string> &message)>;

    static constexpr const char automaticNode[] = "ZiDedadu";

    // The automatic item's tag; grid item i has firstNodeTag + i.
    enum Tag { autoRouteTag = 10, firstNodeTag = 100 };

    explicit NodePageView(QWidget *parent = nullptr);

    Report nodeStateChangeBlock;

    void buildPage() override;
    // Shows the names (the first forty) and, when it is known, which of them the subscription
    // includes; the others are locked.
    void refreshNodes(const std::vector<std::string> &names,
                      const std::optional<std::vector<std::string>> &subscription);

    // The flag picture of a node's name.
    static QString flagImageName(const std::string &name);
    // How a stored choice reads: the node's name, or the automatic route's title when the choice
    // is automatic or empty.
    static QString nodeTitle(const std::string &choice);

    ImageRadioButton *autoRouteBtn() const { return m_autoRouteBtn; }
    const std::vector<ImageRadioButton *> &myNodeItmes() const { return m_myNodeItmes; }
    ImageRadioButton *lastSelectedItem() const { return m_lastSelectedItem; }
    const std::vector<std::string> &myNodes() const { return m_myNodes; }

private:
    static std::string currentChoice();
    static bool isAutomatic(const std::string &choice);
    void startListRequests();
    void itemTapped(ImageRadioButton *item, bool isLocked);
    void report(const std::optional<std::string> &name, const std::string &message);
    void reportFailure(const KvNetWorkError &error);

    std::vector<std::string> m_myNodes;
    std::vector<ImageRadioButton *> m_myNodeItmes;
    ImageRadioButton *m_autoRouteBtn = nullptr;
    ImageRadioButton *m_lastSelectedItem = nullptr;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
