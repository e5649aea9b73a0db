#include "platform/qt/choosable_pop_up.hpp"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QListView>
#include <QPointer>

#include <vector>

namespace quillmark::platform::qt {
namespace {

// One item of the pop-up's list, as an object that assistive technologies
// can address; the list keeps one for each row.
class PopUpItem final : public QObject {
public:
    PopUpItem(QObject* parent, ChoosablePopUp* popUp, int row)
        : QObject(parent)
        , popUp_(popUp)
        , row_(row)
    {
    }

    ChoosablePopUp* popUp() const { return popUp_; }
    int row() const { return row_; }

private:
    QPointer<ChoosablePopUp> popUp_;
    int row_;
};

// The list inside the pop-up, with one PopUpItem per row.
class PopUpList final : public QListView {
public:
    explicit PopUpList(ChoosablePopUp* popUp)
        : popUp_(popUp)
    {
    }

    void setModel(QAbstractItemModel* model) override
    {
        QListView::setModel(model);
        auto rebuild = [this] { rebuildItems(); };
        connect(model, &QAbstractItemModel::rowsInserted, this, rebuild);
        connect(model, &QAbstractItemModel::rowsRemoved, this, rebuild);
        connect(model, &QAbstractItemModel::modelReset, this, rebuild);
        rebuildItems();
    }

    const std::vector<PopUpItem*>& items() const { return items_; }

private:
    void rebuildItems()
    {
        for (PopUpItem* item : items_)
            delete item;
        items_.clear();
        const int rows = model() ? model()->rowCount(rootIndex()) : 0;
        for (int row = 0; row < rows; ++row)
            items_.push_back(new PopUpItem(this, popUp_, row));
        QAccessibleEvent reordered(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reordered);
    }

    ChoosablePopUp* popUp_;
    std::vector<PopUpItem*> items_;
};

class PopUpListAccessible final : public QAccessibleWidget {
public:
    explicit PopUpListAccessible(PopUpList* list)
        : QAccessibleWidget(list, QAccessible::List)
    {
    }

    int childCount() const override { return static_cast<int>(list()->items().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const auto& items = list()->items();
        if (index < 0 || index >= static_cast<int>(items.size()))
            return nullptr;
        return QAccessible::queryAccessibleInterface(items[static_cast<std::size_t>(index)]);
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto& items = list()->items();
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (child && child->object() == items[i])
                return static_cast<int>(i);
        }
        return -1;
    }

private:
    PopUpList* list() const { return static_cast<PopUpList*>(widget()); }
};

class PopUpItemAccessible final : public QAccessibleObject, public QAccessibleActionInterface {
public:
    explicit PopUpItemAccessible(PopUpItem* item)
        : QAccessibleObject(item)
    {
    }

    bool isValid() const override { return QAccessibleObject::isValid() && item()->popUp(); }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(item()->parent()); }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QString text(QAccessible::Text kind) const override
    {
        if (kind != QAccessible::Name || !item()->popUp())
            return {};
        return item()->popUp()->itemText(item()->row());
    }

    QRect rect() const override
    {
        auto* list = view();
        if (!list || !list->isVisible())
            return {};
        const QRect area = list->visualRect(list->model()->index(item()->row(), list->modelColumn(), list->rootIndex()));
        return QRect(list->viewport()->mapToGlobal(area.topLeft()), area.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        ChoosablePopUp* popUp = item()->popUp();
        auto* list = view();
        state.selectable = true;
        state.focusable = true;
        state.disabled = !popUp || !popUp->isEnabled();
        state.selected = popUp && popUp->currentIndex() == item()->row();
        state.invisible = !list || !list->isVisible();
        state.focused = list && list->hasFocus() && list->currentIndex().row() == item()->row();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return { pressAction() }; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    void doAction(const QString& action) override
    {
        if (action == pressAction() && item()->popUp())
            item()->popUp()->choose(item()->row());
    }

private:
    PopUpItem* item() const { return static_cast<PopUpItem*>(object()); }
    QListView* view() const { return qobject_cast<QListView*>(item()->parent()); }
};

QAccessibleInterface* makeAccessible(const QString&, QObject* object)
{
    if (auto* item = dynamic_cast<PopUpItem*>(object))
        return new PopUpItemAccessible(item);
    if (auto* list = dynamic_cast<PopUpList*>(object))
        return new PopUpListAccessible(list);
    return nullptr;
}

} // namespace

ChoosablePopUp::ChoosablePopUp()
{
    static const bool accessible = (QAccessible::installFactory(makeAccessible), true);
    (void)accessible;
    setView(new PopUpList(this));
}

void ChoosablePopUp::choose(int index)
{
    if (!isEnabled() || index < 0 || index >= count())
        return;
    hidePopup();
    setCurrentIndex(index);
    emit activated(index);
}

} // namespace quillmark::platform::qt
