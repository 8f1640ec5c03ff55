// The stroke history on its own: whatever a stroke does to the lists (takes graftals out
// anywhere, puts new ones in), undo and redo give back exactly the lists before and after.
#include "Graftal.h"
#include "LoggerOutput.h"
#include "MeshFace.h"
#include "SceneHistory.h"

#include <QtTest>
#include <random>

namespace {
using Lists = SceneHistory::Lists;
using Key = SceneHistory::Key;

// Each graftal stands at its own (u, v), so a list reads as a sequence of numbers.
std::vector<double> listed(const Lists &lists, const Key &key)
{
    std::vector<double> out;
    const auto it = lists.find(key);
    if (it != lists.end())
        for (const auto &i : it->second)
            out.push_back(i->barycentric.x());
    return out;
}
} // namespace

class TestHistory : public QObject
{
    Q_OBJECT
private slots:
    void strokesOfAnyShapeComeBackExactly_data();
    void strokesOfAnyShapeComeBackExactly();
    void changesOutsideAStrokeDropTheHistory();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestHistory::strokesOfAnyShapeComeBackExactly_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<int>("start");
    for (int seed = 1; seed <= 12; ++seed)
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed << (seed % 4) * 7;
}

void TestHistory::strokesOfAnyShapeComeBackExactly()
{
    QFETCH(int, seed);
    QFETCH(int, start);
    const MeshFace face({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 0);
    auto g = Graftal::create(1, QStringLiteral("g"));
    double next = 0.0;
    auto make = [&](double u) {
        return std::make_unique<GraftalInstance>(&face, QPointF(u, 0.0), g.get());
    };
    const SceneHistory::Maker remake = [&](const SceneHistory::Placement &p) {
        return make(p.uv.x());
    };
    Lists lists;
    const Key a{0, 1}, b{1, 1};
    for (int i = 0; i < start; ++i) {
        lists[a].push_back(make(next += 0.001));
        lists[b].push_back(make(next += 0.001));
    }
    SceneHistory history;
    std::mt19937 random(seed);
    std::vector<std::map<Key, std::vector<double>>> states{
        {{a, listed(lists, a)}, {b, listed(lists, b)}}};
    for (int stroke = 0; stroke < 6; ++stroke) {
        history.beginStroke();
        std::vector<std::unique_ptr<GraftalInstance>> aside; // taken out, alive until the end
        for (int edit = 0; edit < 25; ++edit) {
            const Key &key = random() % 2 ? a : b;
            history.touch(key, lists[key]);
            auto &list = lists[key];
            if (!list.empty() && random() % 2) {
                const size_t at = random() % list.size();
                aside.push_back(std::move(list[at]));
                list.erase(list.begin() + qsizetype(at));
            } else {
                list.push_back(make(next += 0.001));
            }
        }
        history.endStroke(lists);
        states.push_back({{a, listed(lists, a)}, {b, listed(lists, b)}});
    }
    QCOMPARE(history.undoSteps(), 6);
    for (int back = 5; back >= 0; --back) {
        QVERIFY(history.undo(lists, remake));
        QCOMPARE(listed(lists, a), states[size_t(back)][a]);
        QCOMPARE(listed(lists, b), states[size_t(back)][b]);
    }
    QVERIFY(!history.undo(lists, remake));
    for (int forth = 1; forth <= 6; ++forth) {
        QVERIFY(history.redo(lists, remake));
        QCOMPARE(listed(lists, a), states[size_t(forth)][a]);
        QCOMPARE(listed(lists, b), states[size_t(forth)][b]);
    }
    QVERIFY(!history.redo(lists, remake));
    QVERIFY(history.stateId() != 0);
}

void TestHistory::changesOutsideAStrokeDropTheHistory()
{
    const MeshFace face({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 0);
    auto g = Graftal::create(1, QStringLiteral("g"));
    Lists lists;
    SceneHistory history;
    const quint64 loaded = history.stateId();
    history.beginStroke();
    history.touch({0, 1}, lists[{0, 1}]);
    lists[{0, 1}].push_back(std::make_unique<GraftalInstance>(&face, QPointF(0.2, 0.2), g.get()));
    history.endStroke(lists);
    QVERIFY(history.canUndo());
    QVERIFY(history.stateId() != loaded);
    history.beginStroke(); // a stroke that changes nothing makes no step
    history.endStroke(lists);
    QCOMPARE(history.undoSteps(), 1);
    const quint64 painted = history.stateId();
    history.touch({0, 1}, lists[{0, 1}]); // outside a stroke
    QVERIFY(!history.canUndo());
    QVERIFY(history.stateId() != painted && history.stateId() != loaded);
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
