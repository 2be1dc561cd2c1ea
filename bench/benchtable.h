#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace bench {

// One figure of the results, beside its floor measured in the same run.
struct Row
{
    QString part;     // which of the five questions it answers
    QString figure;   // what was measured
    QString measured; // the product's figure
    QString floor;    // the same measured without the product's own work
    QString result;   // the comparison the target is set on
    QString target;
    QString met; // "yes", "NO", or "-" for a figure without a target
};

class Table
{
public:
    void add(const Row &row) { rows.append(row); }
    void note(const QString &line) { notes.append(line); }
    // A Markdown table, then the notes, ready to paste into the results file.
    QString text() const;

private:
    QVector<Row> rows;
    QStringList notes;
};

// The machine the figures were taken on: cores, CPU model, memory, load.
QStringList machineDescription();
QString loadAverage();

QString verdict(bool met);

} // namespace bench
