// The HTML page (-html): the report model as one self-contained HTML5 document: styles
// inline, charts as inline SVG, one small script that only adds table sorting and
// quick tooltips; no request to any network or other file, and everything readable
// with scripts off. A pure function of the model; any thread. Size: a bounded number
// of rows and shapes whatever the tree (see below); the Linux tree's page is 0.43 MB.

// Sections, in order (the nav links them): what was counted (inputs, options, date,
// totals); the languages as bars split into code, comment, punctuation and blank,
// with a table of the numbers (each language row a <tr> with data-language and
// data-files, data-blank, data-comment, data-punctuation, data-code, the total row
// data-language="Total"; punctuation only in the conservative layout); with -diff
// the saved and current numbers and the difference (the language rows then hold the
// difference, as in every format); a squarified treemap of the file rows' directories
// two levels deep with the biggest files inside, sized by code lines, coloured by
// language; the 50 files with the most code lines; the anomalies, counted and listed
// (at most kAnomalyPathsKept of a kind, with the number left out). Sizes: at most
// kTreemapShapes rectangles in the treemap and 50 file rows, plus one row per
// language and the anomaly lists.
//
// Names are written as app/report_text.h says (any bytes give valid, escaped text).
// Colours tell languages apart for colour-blind readers (nine hues, then grey); a
// dark scheme follows prefers-color-scheme; every chart has a <title> and <desc>;
// the page prints on white.
#pragma once

#include "app/report_model.h"
#include "app/report_writer.h"
#include "core/shared_string.h"

namespace qm {

// Rectangles the treemap draws at most.
inline constexpr int32_t kTreemapShapes = 2500;

SharedString RenderHtml(const ReportModel& model);

extern const ReportFormat kHtmlReport;

}  // namespace qm
