#include "app/html_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "app/file_types.h"
#include "app/option_table.h"
#include "app/report_text.h"
#include "app/treemap_layout.h"
#include "core/stable_sort.h"

namespace qm {

namespace {

// Colours are CSS variables, so the dark scheme can change them: kinds of line
// .c .m .p .b (code, comment, punctuation, blank), languages .l0 to .l8 and .lx for
// the rest. Hues from palettes made to stay apart under the common colour-vision
// deficiencies; each class colours an SVG shape (fill) or a legend swatch
// (background).
constexpr char kStyle[] = R"CSS(
:root{color-scheme:light dark;--bg:#fff;--fg:#1c1e23;--muted:#5a606d;--rule:#d8dbe2;--panel:#f4f5f7;
--code:#0072b2;--comment:#e69f00;--punctuation:#cc79a7;--blank:#a3a3a3;
--l0:#cc6677;--l1:#332288;--l2:#ddcc77;--l3:#117733;--l4:#88ccee;--l5:#882255;--l6:#44aa99;--l7:#999933;
--l8:#aa4499;--lx:#bbbbbb}
@media (prefers-color-scheme:dark){:root{--bg:#15171b;--fg:#e3e5ea;--muted:#a2a8b5;--rule:#363a44;
--panel:#1f2228;--code:#56b4e9;--blank:#7a7a7a;--l1:#6f63c4;--l5:#b9577e;--lx:#8a8a8a}}
*{box-sizing:border-box}
body{margin:0 auto;max-width:1240px;padding:1.2rem 1.5rem 2rem;background:var(--bg);color:var(--fg);
font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Noto Sans",sans-serif}
h1{font-size:1.55rem;margin:0 0 .6rem;overflow-wrap:anywhere}
h2{font-size:1.2rem;margin:2rem 0 .6rem;padding-bottom:.2rem;border-bottom:1px solid var(--rule)}
h3{font-size:1rem;margin:1rem 0 .3rem}
code{font:.88em ui-monospace,SFMono-Regular,Menlo,Consolas,"DejaVu Sans Mono",monospace;overflow-wrap:anywhere}
p,figcaption{max-width:60rem}
.muted{color:var(--muted)}
dl.facts{display:grid;grid-template-columns:max-content 1fr;gap:.15rem 1rem;margin:0 0 1rem}
dl.facts dt{color:var(--muted)}
dl.facts dd{margin:0}
ul.totals{display:flex;flex-wrap:wrap;gap:.6rem 2.2rem;list-style:none;padding:.8rem 1rem;margin:0;
background:var(--panel);border-radius:6px}
ul.totals b{display:block;font-size:1.6rem;font-variant-numeric:tabular-nums}
nav ul{display:flex;flex-wrap:wrap;gap:.2rem 1.2rem;list-style:none;padding:0;margin:1rem 0 0}
a{color:inherit}
table{border-collapse:collapse;margin:.6rem 0 1rem;font-variant-numeric:tabular-nums}
th,td{padding:.18rem .6rem;border-bottom:1px solid var(--rule);text-align:left;vertical-align:top}
.n{text-align:right;white-space:nowrap}
thead th{font-weight:600;color:var(--muted)}
tfoot th,tfoot td{font-weight:600;border-top:2px solid var(--fg)}
th[tabindex]{cursor:pointer}
th[aria-sort=descending]::after{content:" \25BE"}
th[aria-sort=ascending]::after{content:" \25B4"}
figure{margin:0}
svg{display:block;width:100%;height:auto}
svg text{fill:var(--fg);font-size:12px;pointer-events:none}
.legend{display:flex;flex-wrap:wrap;gap:.15rem 1.1rem;list-style:none;padding:0;margin:.4rem 0;font-size:.9em}
.swatch{display:inline-block;width:.85em;height:.85em;margin-right:.35em;vertical-align:-.08em;border-radius:2px}
.c{fill:var(--code);background:var(--code)}.m{fill:var(--comment);background:var(--comment)}
.p{fill:var(--punctuation);background:var(--punctuation)}.b{fill:var(--blank);background:var(--blank)}
.l0{fill:var(--l0);background:var(--l0)}.l1{fill:var(--l1);background:var(--l1)}
.l2{fill:var(--l2);background:var(--l2)}.l3{fill:var(--l3);background:var(--l3)}
.l4{fill:var(--l4);background:var(--l4)}.l5{fill:var(--l5);background:var(--l5)}
.l6{fill:var(--l6);background:var(--l6)}.l7{fill:var(--l7);background:var(--l7)}
.l8{fill:var(--l8);background:var(--l8)}.lx{fill:var(--lx);background:var(--lx)}
.axis{stroke:var(--fg);stroke-width:1}
rect.d{fill-opacity:.3;stroke:var(--bg);stroke-width:2}
rect.f{stroke:var(--bg);stroke-width:.5}
text.h{font-size:10px;paint-order:stroke;stroke:var(--bg);stroke-width:3px;stroke-linejoin:round}
text.w,text.k{font-size:10px}text.w{fill:#fff}text.k{fill:#111}
ul.paths{columns:2 26rem;column-gap:2rem;padding-left:1.2rem;font-size:.92em}
.tip{position:fixed;z-index:1;max-width:36rem;padding:.25rem .5rem;border-radius:4px;pointer-events:none;
background:var(--fg);color:var(--bg);font-size:.85em;overflow-wrap:anywhere}
@media print{:root{--bg:#fff;--fg:#000;--muted:#444;--rule:#bbb;--panel:#f2f2f2;--code:#0072b2;--blank:#a3a3a3;
--l1:#332288;--l5:#882255;--lx:#bbbbbb}
body{max-width:none;padding:0;font-size:10pt}nav,.tip{display:none}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
h2,h3{break-after:avoid}figure,tr{break-inside:avoid}}
)CSS";

// Sorting for tables of class "sortable" (a header with data-key sorts by that
// data- attribute of the rows, as a number; others by the cell's text), and quick
// tooltips for the SVG shapes, from their <title> (emptied while shown, so that the
// browser's own tooltip does not cover it).
constexpr char kScript[] = R"JS(
"use strict";
for (const table of document.querySelectorAll("table.sortable")) {
  const heads = table.tHead.rows[0].cells;
  for (let column = 0; column < heads.length; ++column) {
    const head = heads[column];
    const key = head.dataset.key;
    head.tabIndex = 0;
    const sort = () => {
      const state = head.getAttribute("aria-sort");
      const descending = key ? state !== "descending" : state === "ascending";
      for (const other of heads) other.removeAttribute("aria-sort");
      head.setAttribute("aria-sort", descending ? "descending" : "ascending");
      const value = row => key ? Number(row.dataset[key]) : row.cells[column].textContent;
      const body = table.tBodies[0];
      const rows = Array.from(body.rows).sort((a, b) => {
        const order = key ? value(a) - value(b) : value(a).localeCompare(value(b));
        return descending ? -order : order;
      });
      body.append(...rows);
    };
    head.addEventListener("click", sort);
    head.addEventListener("keydown", event => {
      if (event.key === "Enter" || event.key === " ") {
        event.preventDefault();
        sort();
      }
    });
  }
}
const tip = document.createElement("div");
tip.className = "tip";
tip.hidden = true;
document.body.append(tip);
let shown = null;
const hide = () => {
  if (shown) shown.title.textContent = shown.text;
  shown = null;
  tip.hidden = true;
};
document.addEventListener("pointerover", event => {
  hide();
  const target = event.target;
  const title = target instanceof SVGElement && target.tagName !== "svg" ? target.querySelector(":scope > title") : null;
  if (!title) return;
  shown = {title, text: title.textContent};
  tip.textContent = shown.text;
  title.textContent = "";
  tip.hidden = false;
});
document.addEventListener("pointerout", hide);
document.addEventListener("pointermove", event => {
  if (tip.hidden) return;
  tip.style.left = Math.max(4, Math.min(event.clientX + 14, innerWidth - tip.offsetWidth - 4)) + "px";
  const below = event.clientY + 18;
  tip.style.top = (below + tip.offsetHeight > innerHeight ? event.clientY - tip.offsetHeight - 8 : below) + "px";
});
)JS";

constexpr int32_t kLanguageHues = 9;
// The hues (--l1 indigo, --l3 green, --l5 wine) that take white text.
constexpr bool kIsDarkHue[kLanguageHues] = {false, true, false, true, false, true, false, false, false};
constexpr int32_t kBiggestFiles = 50;
constexpr int32_t kAnomaliesShownOpen = 12;  // a longer list starts folded

// Bars: a label column, the bars, room for the number behind the longest.
constexpr double kBarsWidth = 960;
constexpr double kBarLabelWidth = 190;
constexpr double kBarNumberRoom = 96;
constexpr double kBarRowHeight = 22;
constexpr double kBarHeight = 14;
constexpr int32_t kBarLabelCharacters = 26;

// Treemap: the drawing, the items of a level before the rest is one "smaller items"
// rectangle, the biggest files drawn in a second-level directory, and the least a
// rectangle needs to be drawn, labelled or filled.
constexpr double kTreemapWidth = 1200;
constexpr double kTreemapHeight = 680;
constexpr int32_t kTopItems = 60;
constexpr int32_t kSecondItems = 40;
constexpr int32_t kInnerFiles = 120;
constexpr double kLeastFileArea = 40;
constexpr double kLeastSide = 3;
constexpr double kBandHeight = 15;
constexpr double kSmallBandHeight = 12;

const char kKindClass[] = {'c', 'm', 'p', 'b'};
constexpr const char* kGreyClass = "lx";
const char* const kKindNames[] = {"code", "comment", "punctuation", "blank"};

void AppendPlain(SharedString& out, int64_t value) {
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%" PRId64, value);
  out.Append(text, length);
}

// A count as the page shows it: grouped by narrow no-break spaces unless -np; with a
// sign for a difference.
void AppendCount(SharedString& out, int64_t value, bool isPretty, bool isSigned = false) {
  // 20 digits, 6 groups of 3 bytes and a sign.
  char text[48];
  char* cursor = text + sizeof text;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  int32_t digitCount = 0;
  do {
    if (isPretty && digitCount > 0 && digitCount % 3 == 0) {
      cursor -= 3;
      std::memcpy(cursor, "\xE2\x80\xAF", 3);
    }
    *--cursor = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    ++digitCount;
  } while (magnitude != 0);
  if (value < 0) {
    *--cursor = '-';
  } else if (isSigned && value > 0) {
    *--cursor = '+';
  }
  out.Append(cursor, static_cast<int32_t>(text + sizeof text - cursor));
}

// An SVG coordinate: one decimal, without a trailing ".0". Hot: a page holds
// thousands (printf's floating point costs ten times as much).
void AppendCoordinate(SharedString& out, double value) {
  const int64_t tenths = std::llround(value * 10);
  if (tenths < 0) out.Append("-", 1);
  const uint64_t magnitude = tenths < 0 ? 0 - static_cast<uint64_t>(tenths) : static_cast<uint64_t>(tenths);
  char text[24];
  char* cursor = text + sizeof text;
  if (magnitude % 10 != 0) {
    *--cursor = static_cast<char>('0' + magnitude % 10);
    *--cursor = '.';
  }
  uint64_t whole = magnitude / 10;
  do {
    *--cursor = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  out.Append(cursor, static_cast<int32_t>(text + sizeof text - cursor));
}

// One decimal; a share too small to show one is "<0.1%".
void AppendPercent(SharedString& out, int64_t part, int64_t whole) {
  if (whole <= 0) return;
  const double percent = 100.0 * static_cast<double>(part) / static_cast<double>(whole);
  if (part > 0 && percent < 0.05) {
    out.Append("&lt;0.1%");
    return;
  }
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%.1f%%", percent);
  out.Append(text, length);
}

// At most maxCharacters characters of text (a byte that is not valid UTF-8 counts as
// one), "…" marking a cut; escaped.
void AppendShortened(SharedString& out, const char* begin, const char* end, int32_t maxCharacters) {
  const auto* cursor = reinterpret_cast<const uint8_t*>(begin);
  const auto* last = reinterpret_cast<const uint8_t*>(end);
  int32_t characters = 0;
  while (cursor < last && characters < maxCharacters) {
    const int32_t length = *cursor < 0x80 ? 1 : Utf8SequenceLength(cursor, last);
    cursor += length > 0 ? length : 1;
    ++characters;
  }
  if (cursor == last) {
    AppendHtmlText(out, begin, end);
    return;
  }
  // Room for the mark: one character fewer.
  const auto* cut = reinterpret_cast<const uint8_t*>(begin);
  for (int32_t i = 0; i + 1 < maxCharacters && cut < last; ++i) {
    const int32_t length = *cut < 0x80 ? 1 : Utf8SequenceLength(cut, last);
    cut += length > 0 ? length : 1;
  }
  AppendHtmlText(out, begin, reinterpret_cast<const char*>(cut));
  out.Append("\xE2\x80\xA6", 3);
}

void AppendCodeText(SharedString& out, const SharedString& text) {
  out.Append("<code>");
  AppendHtmlText(out, text);
  out.Append("</code>");
}

// One cell of a number: <td class="n">.
void AppendNumberCell(SharedString& out, int64_t value, bool isPretty, bool isSigned = false) {
  out.Append("<td class=\"n\">");
  AppendCount(out, value, isPretty, isSigned);
  out.Append("</td>");
}

// A rectangle's geometry attributes.
void AppendBox(SharedString& out, const TreemapRect& box) {
  out.Append(" x=\"");
  AppendCoordinate(out, box.x);
  out.Append("\" y=\"");
  AppendCoordinate(out, box.y);
  out.Append("\" width=\"");
  AppendCoordinate(out, box.width);
  out.Append("\" height=\"");
  AppendCoordinate(out, box.height);
  out.Append("\"");
}

// A treemap item: a directory, a file row, or the smaller items of a level together.
struct TreemapItem {
  int32_t directory = -1;
  int32_t file = -1;
  int64_t code = 0;
  int32_t restCount = 0;  // the smaller items: how many
};

// An item as drawn: level 1 and 2 are the directories and files of the first two
// levels, level 3 the biggest files inside a second-level directory (its inner
// shapes).
struct TreemapShape {
  TreemapItem item;
  TreemapRect box;
  int32_t level = 1;
  int32_t firstInner = 0;
  int32_t innerCount = 0;
};

// Lays sizes (> 0, in any order) out in box: boxes[i] for sizes[i].
void LayOutSizes(const Array<double>& sizes, const TreemapRect& box, Array<TreemapRect>& boxes) {
  Array<int32_t> order;
  for (int32_t i = 0; i < sizes.Count(); ++i) order.PushBack(i);
  StableSort(order.Data(), order.Count(), [&sizes](int32_t a, int32_t b) { return sizes[a] > sizes[b]; });
  Array<double> sorted;
  for (const int32_t i : order) sorted.PushBack(sizes[i]);
  Array<TreemapRect> sortedBoxes;
  sortedBoxes.Resize(sorted.Count());
  SquarifyLayout(sorted.Data(), sorted.Count(), box, sortedBoxes.Data());
  boxes.Resize(sizes.Count());
  for (int32_t k = 0; k < order.Count(); ++k) boxes[order[k]] = sortedBoxes[k];
}

bool IsDrawable(const TreemapRect& box) {
  return box.width >= kLeastSide && box.height >= kLeastSide;
}

TreemapRect Inset(const TreemapRect& box, double left, double top, double right, double bottom) {
  return TreemapRect{box.x + left, box.y + top, box.width - left - right, box.height - top - bottom};
}

class PageWriter {
 public:
  explicit PageWriter(const ReportModel& model);
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  SharedString Render();

 private:
  // A section of the page: its id, its heading (in the nav), whether the model has it
  // and its writer. The comparison of two revisions and the history over time each
  // become one more entry, after the -diff section, reading their part of the model.
  struct Section {
    const char* id;
    const char* heading;
    bool (*isShown)(const ReportModel&);
    void (PageWriter::*write)();
  };
  static const Section kSections[];

  void WriteHead();
  void WriteHeader();
  void WriteLanguages();
  void WriteSavedComparison();
  void WriteTreemap();
  void WriteBiggestFiles();
  void WriteAnomalies();

  void WriteLanguageBars();
  void WriteCountsHeader(const char* firstColumn, bool withFiles);
  void WriteCountAttributes(const ColumnTotals& counts, bool withFiles);
  void WriteCountCells(const ColumnTotals& counts, bool withFiles, bool isSigned);
  void CollectItems(int32_t directory, int32_t limit, Array<TreemapItem>& items) const;
  void LayOutItems(const Array<TreemapItem>& items, const TreemapRect& box, int32_t level);
  void LayOutInnerFiles(int32_t root);
  void WriteTreemapShape(const TreemapShape& shape);
  void WriteTreemapLabel(const TreemapShape& shape);
  void WriteItemTitle(const TreemapItem& item);
  void WriteLanguageLegend();
  void WriteAnomalyList(const char* heading, const AnomalyPathList& list, int64_t count);
  const char* LanguageClass(FileTypeId type) const;

  const ReportModel& model_;
  const bool isDiff_;
  SharedString out_;
  // Per type: its hue (0 to kLanguageHues - 1), or -1 for grey.
  int8_t hueOfType_[kTypeSlots];
  // The treemap as laid out: the first two levels, then the files inside
  // second-level directories (TreemapShape::firstInner indexes them).
  Array<TreemapShape> shapes_;
  Array<TreemapShape> innerShapes_;
  bool hasGreyShape_ = false;  // a shape of the grey of other languages was drawn
};

const PageWriter::Section PageWriter::kSections[] = {
    {"languages", "Languages", [](const ReportModel&) { return true; }, &PageWriter::WriteLanguages},
    {"saved", "Compared with the saved run", [](const ReportModel& model) { return model.hasComparison; },
     &PageWriter::WriteSavedComparison},
    {"treemap", "Where the code lives", [](const ReportModel&) { return true; }, &PageWriter::WriteTreemap},
    {"biggest", "The biggest files", [](const ReportModel&) { return true; }, &PageWriter::WriteBiggestFiles},
    {"anomalies", "Anomalies", [](const ReportModel&) { return true; }, &PageWriter::WriteAnomalies},
};

PageWriter::PageWriter(const ReportModel& model) : model_(model), isDiff_(model.hasComparison) {
  std::memset(hueOfType_, -1, sizeof hueOfType_);
  // Hues go to the languages of the most code (the current code after -diff).
  Array<int32_t> order;
  for (int32_t i = 0; i < model.languages.Count(); ++i) order.PushBack(i);
  auto codeOf = [&model, this](int32_t row) {
    return isDiff_ ? model.comparison.current[row].code : model.languages[row].counts.code;
  };
  StableSort(order.Data(), order.Count(), [&codeOf](int32_t a, int32_t b) { return codeOf(a) > codeOf(b); });
  int8_t hue = 0;
  for (const int32_t row : order) {
    if (hue == kLanguageHues || codeOf(row) <= 0) break;
    hueOfType_[model.languages[row].type] = hue++;
  }
}

const char* PageWriter::LanguageClass(FileTypeId type) const {
  static const char* const kClasses[] = {"l0", "l1", "l2", "l3", "l4", "l5", "l6", "l7", "l8"};
  static_assert(sizeof kClasses / sizeof kClasses[0] == kLanguageHues);
  const int8_t hue = hueOfType_[type];
  return hue < 0 ? kGreyClass : kClasses[hue];
}

SharedString PageWriter::Render() {
  WriteHead();
  out_.Append("<body>\n");
  WriteHeader();
  out_.Append("<main>\n");
  for (const Section& section : kSections) {
    if (!section.isShown(model_)) continue;
    out_.Append("<section id=\"");
    out_.Append(section.id);
    out_.Append("\">\n<h2>");
    out_.Append(section.heading);
    out_.Append("</h2>\n");
    (this->*section.write)();
    out_.Append("</section>\n");
  }
  out_.Append("</main>\n<footer>\n<p class=\"muted\">Written by ");
  out_.Append(kVersionBanner);
  out_.Append(
      ". The numbers are those of <code>-json</code> for the same run. Sorting and tooltips need scripts; "
      "everything else reads without them.</p>\n</footer>\n<script>");
  out_.Append(kScript);
  out_.Append("</script>\n</body>\n</html>\n");
  return std::move(out_);
}

void PageWriter::WriteHead() {
  out_.Append(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"color-scheme\" content=\"light dark\">\n<meta name=\"generator\" content=\"");
  out_.Append(kVersionBanner);
  out_.Append("\">\n<title>Lines of code");
  const char* separator = ": ";
  if (!model_.standardInputName.IsEmpty()) {
    out_.Append(separator);
    AppendHtmlText(out_, model_.standardInputName);
    separator = ", ";
  }
  for (const SharedString& input : model_.inputs) {
    out_.Append(separator);
    AppendHtmlText(out_, input);
    separator = ", ";
  }
  out_.Append("</title>\n<style>");
  out_.Append(kStyle);
  out_.Append("</style>\n</head>\n");
}

void PageWriter::WriteHeader() {
  const bool isPretty = model_.isPretty;
  out_.Append("<header>\n<h1>Lines of code</h1>\n<dl class=\"facts\">\n<dt>Counted</dt><dd>");
  const char* separator = "";
  if (!model_.standardInputName.IsEmpty()) {
    out_.Append("standard input as ");
    AppendCodeText(out_, model_.standardInputName);
    separator = " ";
  }
  for (const SharedString& input : model_.inputs) {
    out_.Append(separator);
    AppendCodeText(out_, input);
    separator = " ";
  }
  out_.Append("</dd>\n<dt>Options</dt><dd>");
  if (model_.options.IsEmpty()) out_.Append("none");
  separator = "";
  for (const SharedString& option : model_.options) {
    out_.Append(separator);
    AppendCodeText(out_, option);
    separator = " ";
  }
  char date[32];
  char isoDate[32];
  const time_t seconds = static_cast<time_t>(model_.countedAt);
  tm utc;
  if (gmtime_r(&seconds, &utc) == nullptr ||
      std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", &utc) == 0 ||
      std::strftime(isoDate, sizeof isoDate, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
    std::strcpy(date, "unknown");
    isoDate[0] = 0;
  }
  out_.Append("</dd>\n<dt>Date</dt><dd><time datetime=\"");
  out_.Append(isoDate);
  out_.Append("\">");
  out_.Append(date);
  out_.Append("</time></dd>\n<dt>Lines</dt><dd>");
  out_.Append(model_.isConservative
                  ? "blank, comment, punctuation (only characters such as <code>}</code> and <code>;</code>) "
                    "and code"
                  : "blank, comment and code (lines of punctuation alone count as code)");
  out_.Append("</dd>\n");
  if (isDiff_) {
    out_.Append("<dt>Compared with</dt><dd>");
    AppendCodeText(out_, model_.diffFile);
    out_.Append(", saved earlier: the tables show current minus saved</dd>\n");
  }
  out_.Append("</dl>\n<ul class=\"totals\">\n");
  // The totals of the tree as it is, with the change after -diff.
  const ColumnTotals& now = isDiff_ ? model_.comparison.currentTotal : model_.total;
  const struct {
    int64_t ColumnTotals::*field;
    const char* label;
  } kTotals[] = {{&ColumnTotals::files, "files"},
                 {&ColumnTotals::code, "code lines"},
                 {&ColumnTotals::comment, "comment lines"},
                 {&ColumnTotals::punctuation, "punctuation lines"},
                 {&ColumnTotals::blank, "blank lines"}};
  for (const auto& total : kTotals) {
    if (total.field == &ColumnTotals::punctuation && !model_.isConservative) continue;
    out_.Append("<li><b>");
    AppendCount(out_, now.*total.field, isPretty);
    out_.Append("</b>");
    out_.Append(total.label);
    if (isDiff_) {
      out_.Append(" (");
      AppendCount(out_, model_.total.*total.field, isPretty, true);
      out_.Append(")");
    }
    out_.Append("</li>\n");
  }
  out_.Append("</ul>\n<nav aria-label=\"Sections\"><ul>\n");
  for (const Section& section : kSections) {
    if (!section.isShown(model_)) continue;
    out_.Append("<li><a href=\"#");
    out_.Append(section.id);
    out_.Append("\">");
    out_.Append(section.heading);
    out_.Append("</a></li>\n");
  }
  out_.Append("</ul></nav>\n</header>\n");
}

void PageWriter::WriteCountsHeader(const char* firstColumn, bool withFiles) {
  out_.Append("<thead><tr><th scope=\"col\">");
  out_.Append(firstColumn);
  out_.Append("</th>");
  if (withFiles) out_.Append("<th scope=\"col\" class=\"n\" data-key=\"files\">Files</th>");
  out_.Append(
      "<th scope=\"col\" class=\"n\" data-key=\"blank\">Blank</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"comment\">Comment</th>");
  if (model_.isConservative)
    out_.Append("<th scope=\"col\" class=\"n\" data-key=\"punctuation\">Punctuation</th>");
  out_.Append("<th scope=\"col\" class=\"n\" data-key=\"code\">Code</th>");
}

void PageWriter::WriteCountAttributes(const ColumnTotals& counts, bool withFiles) {
  const struct {
    const char* name;
    int64_t value;
    bool isShown;
  } attributes[] = {{" data-files=\"", counts.files, withFiles},
                    {" data-blank=\"", counts.blank, true},
                    {" data-comment=\"", counts.comment, true},
                    {" data-punctuation=\"", counts.punctuation, model_.isConservative},
                    {" data-code=\"", counts.code, true}};
  for (const auto& attribute : attributes) {
    if (!attribute.isShown) continue;
    out_.Append(attribute.name);
    AppendPlain(out_, attribute.value);
    out_.Append("\"");
  }
}

void PageWriter::WriteCountCells(const ColumnTotals& counts, bool withFiles, bool isSigned) {
  const bool isPretty = model_.isPretty;
  if (withFiles) AppendNumberCell(out_, counts.files, isPretty, isSigned);
  AppendNumberCell(out_, counts.blank, isPretty, isSigned);
  AppendNumberCell(out_, counts.comment, isPretty, isSigned);
  if (model_.isConservative) AppendNumberCell(out_, counts.punctuation, isPretty, isSigned);
  AppendNumberCell(out_, counts.code, isPretty, isSigned);
}

void PageWriter::WriteLanguages() {
  if (model_.languages.IsEmpty()) {
    out_.Append("<p>No file of a known language had lines.</p>\n");
    return;
  }
  if (isDiff_) {
    out_.Append("<p>Lines gained (right of the axis) and lost (left of it) per language since ");
    AppendCodeText(out_, model_.diffFile);
    out_.Append(".</p>\n");
  }
  WriteLanguageBars();
  out_.Append("<table class=\"sortable\" id=\"language-table\">\n");
  WriteCountsHeader("Language", true);
  if (!isDiff_) out_.Append("<th scope=\"col\" class=\"n\" data-key=\"code\">Share of code</th>");
  out_.Append("</tr></thead>\n<tbody>\n");
  auto writeRow = [this](const char* name, const ColumnTotals& counts, bool isTotal) {
    out_.Append("<tr data-language=\"");
    AppendHtmlText(out_, name);
    out_.Append("\"");
    WriteCountAttributes(counts, true);
    out_.Append(isTotal ? "><th scope=\"row\">" : "><td>");
    AppendHtmlText(out_, name);
    out_.Append(isTotal ? "</th>" : "</td>");
    WriteCountCells(counts, true, isDiff_);
    if (!isDiff_) {
      out_.Append("<td class=\"n\">");
      AppendPercent(out_, counts.code, model_.total.code);
      out_.Append("</td>");
    }
    out_.Append("</tr>\n");
  };
  for (const LanguageRow& row : model_.languages) writeRow(row.name, row.counts, false);
  out_.Append("</tbody>\n<tfoot>\n");
  writeRow("Total", model_.total, true);
  out_.Append("</tfoot>\n</table>\n");
}

// Stacked bars, one per language: the positive parts to the right of the axis, the
// negative ones (after -diff) to its left, so both share one scale.
void PageWriter::WriteLanguageBars() {
  const int32_t kinds = model_.isConservative ? 4 : 3;
  auto partsOf = [&](const ColumnTotals& counts, int64_t* parts) {
    parts[0] = counts.code;
    parts[1] = counts.comment;
    if (model_.isConservative) {
      parts[2] = counts.punctuation;
      parts[3] = counts.blank;
    } else {
      parts[2] = counts.blank;
    }
  };
  auto kindOf = [&](int32_t part) { return model_.isConservative || part < 2 ? part : part + 1; };
  double right = 0;
  double left = 0;
  for (const LanguageRow& row : model_.languages) {
    int64_t parts[4];
    partsOf(row.counts, parts);
    double positive = 0;
    double negative = 0;
    for (int32_t k = 0; k < kinds; ++k) {
      (parts[k] > 0 ? positive : negative) += static_cast<double>(parts[k] > 0 ? parts[k] : -parts[k]);
    }
    if (positive > right) right = positive;
    if (negative > left) left = negative;
  }
  const double barRoom = kBarsWidth - kBarLabelWidth - kBarNumberRoom;
  const double scale = right + left > 0 ? barRoom / (right + left) : 0;
  const double axis = kBarLabelWidth + left * scale;
  const double height = static_cast<double>(model_.languages.Count()) * kBarRowHeight + 8;

  out_.Append("<figure>\n<svg viewBox=\"0 0 ");
  AppendCoordinate(out_, kBarsWidth);
  out_.Append(" ");
  AppendCoordinate(out_, height);
  out_.Append(
      "\" role=\"img\"><title>Lines per language</title><desc>One horizontal bar per language, split into ");
  out_.Append(model_.isConservative ? "code, comment, punctuation and blank" : "code, comment and blank");
  out_.Append(isDiff_ ? " lines gained or lost; the numbers are the change in code lines."
                      : " lines, longest first; the numbers are code lines.");
  out_.Append(" The table below holds every number.</desc>\n");
  double y = 4;
  for (const LanguageRow& row : model_.languages) {
    int64_t parts[4];
    partsOf(row.counts, parts);
    out_.Append("<g><text x=\"");
    AppendCoordinate(out_, kBarLabelWidth - 8);
    out_.Append("\" y=\"");
    AppendCoordinate(out_, y + kBarHeight - 3);
    out_.Append("\" text-anchor=\"end\">");
    AppendShortened(out_, row.name, row.name + std::strlen(row.name), kBarLabelCharacters);
    out_.Append("</text>");
    double positiveEnd = axis;
    double negativeEnd = axis;
    for (int32_t k = 0; k < kinds; ++k) {
      if (parts[k] == 0) continue;
      const double width = static_cast<double>(parts[k] > 0 ? parts[k] : -parts[k]) * scale;
      double x;
      if (parts[k] > 0) {
        x = positiveEnd;
        positiveEnd += width;
      } else {
        negativeEnd -= width;
        x = negativeEnd;
      }
      out_.Append("<rect class=\"");
      out_.Append(&kKindClass[kindOf(k)], 1);
      out_.Append("\"");
      AppendBox(out_, TreemapRect{x, y, width, kBarHeight});
      out_.Append("><title>");
      AppendHtmlText(out_, row.name);
      out_.Append(": ");
      AppendCount(out_, parts[k], model_.isPretty, isDiff_);
      out_.Append(" ");
      out_.Append(kKindNames[kindOf(k)]);
      out_.Append(" lines</title></rect>");
    }
    out_.Append("<text x=\"");
    AppendCoordinate(out_, positiveEnd + 6);
    out_.Append("\" y=\"");
    AppendCoordinate(out_, y + kBarHeight - 3);
    out_.Append("\">");
    AppendCount(out_, row.counts.code, model_.isPretty, isDiff_);
    out_.Append("</text></g>\n");
    y += kBarRowHeight;
  }
  if (isDiff_) {
    out_.Append("<line class=\"axis\" x1=\"");
    AppendCoordinate(out_, axis);
    out_.Append("\" x2=\"");
    AppendCoordinate(out_, axis);
    out_.Append("\" y1=\"0\" y2=\"");
    AppendCoordinate(out_, height);
    out_.Append("\"/>\n");
  }
  out_.Append("</svg>\n<figcaption><ul class=\"legend\">");
  for (int32_t k = 0; k < kinds; ++k) {
    out_.Append("<li><span class=\"swatch ");
    out_.Append(&kKindClass[kindOf(k)], 1);
    out_.Append("\" aria-hidden=\"true\">\xC2\xA0</span>");
    out_.Append(kKindNames[kindOf(k)]);
    out_.Append("</li>");
  }
  out_.Append("</ul></figcaption>\n</figure>\n");
}

void PageWriter::WriteSavedComparison() {
  const SavedComparison& comparison = model_.comparison;
  const bool isPretty = model_.isPretty;
  out_.Append("<p>The totals saved in ");
  AppendCodeText(out_, model_.diffFile);
  out_.Append(", those of this run and the difference.</p>\n<table>\n");
  WriteCountsHeader("Totals", true);
  out_.Append("</tr></thead>\n<tbody>\n");
  const struct {
    const char* label;
    const ColumnTotals& counts;
    bool isSigned;
  } rows[] = {{"Saved", comparison.savedTotal, false},
              {"Current", comparison.currentTotal, false},
              {"Difference", model_.total, true}};
  for (const auto& row : rows) {
    out_.Append("<tr><th scope=\"row\">");
    out_.Append(row.label);
    out_.Append("</th>");
    WriteCountCells(row.counts, true, row.isSigned);
    out_.Append("</tr>\n");
  }
  out_.Append(
      "</tbody>\n</table>\n<h3>Per language</h3>\n<table class=\"sortable\">\n<thead><tr><th "
      "scope=\"col\">Language</th><th scope=\"col\" class=\"n\" data-key=\"savedFiles\">Saved files</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"currentFiles\">Current files</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"savedCode\">Saved code</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"currentCode\">Current code</th>"
      "<th scope=\"col\" class=\"n\" data-key=\"code\">Change in code</th></tr></thead>\n<tbody>\n");
  for (int32_t i = 0; i < model_.languages.Count(); ++i) {
    const ColumnTotals& saved = comparison.saved[i];
    const ColumnTotals& current = comparison.current[i];
    const int64_t values[] = {saved.files, current.files, saved.code, current.code};
    const char* const names[] = {" data-saved-files=\"", " data-current-files=\"", " data-saved-code=\"",
                                 " data-current-code=\""};
    out_.Append("<tr");
    for (int32_t k = 0; k < 4; ++k) {
      out_.Append(names[k]);
      AppendPlain(out_, values[k]);
      out_.Append("\"");
    }
    out_.Append(" data-code=\"");
    AppendPlain(out_, model_.languages[i].counts.code);
    out_.Append("\"><td>");
    AppendHtmlText(out_, model_.languages[i].name);
    out_.Append("</td>");
    for (const int64_t value : values) AppendNumberCell(out_, value, isPretty);
    AppendNumberCell(out_, model_.languages[i].counts.code, isPretty, true);
    out_.Append("</tr>\n");
  }
  out_.Append("</tbody>\n<tfoot>\n<tr><th scope=\"row\">Total</th>");
  for (const int64_t value : {comparison.savedTotal.files, comparison.currentTotal.files,
                              comparison.savedTotal.code, comparison.currentTotal.code}) {
    AppendNumberCell(out_, value, isPretty);
  }
  AppendNumberCell(out_, model_.total.code, isPretty, true);
  out_.Append("</tr>\n</tfoot>\n</table>\n");
}

// The directories and files right inside a directory, most code first (directories
// before files of equal code), without those of no code; past limit items the rest
// become one item.
void PageWriter::CollectItems(int32_t directory, int32_t limit, Array<TreemapItem>& items) const {
  items.Clear();
  const DirectoryRow& row = model_.directories[directory];
  int32_t d = 0;
  int32_t f = 0;
  TreemapItem rest;
  while (true) {
    const int64_t directoryCode =
        d < row.directories.Count() ? model_.directories[row.directories[d]].code : 0;
    const int64_t fileCode = f < row.fileRows.Count() ? model_.files[row.fileRows[f]].counts.code : 0;
    if (directoryCode <= 0 && fileCode <= 0) break;
    TreemapItem item;
    if (directoryCode >= fileCode) {
      item.directory = row.directories[d++];
      item.code = directoryCode;
    } else {
      item.file = row.fileRows[f++];
      item.code = fileCode;
    }
    if (items.Count() < limit) {
      items.PushBack(item);
    } else {
      rest.code = SaturatingAdd(rest.code, item.code);
      ++rest.restCount;
    }
  }
  if (rest.restCount > 0) items.PushBack(rest);
}

void PageWriter::LayOutItems(const Array<TreemapItem>& items, const TreemapRect& box, int32_t level) {
  Array<double> sizes;
  for (const TreemapItem& item : items) sizes.PushBack(static_cast<double>(item.code));
  Array<TreemapRect> boxes;
  LayOutSizes(sizes, box, boxes);
  for (int32_t i = 0; i < items.Count(); ++i) {
    if (!IsDrawable(boxes[i])) continue;
    TreemapShape shape;
    shape.item = items[i];
    shape.box = boxes[i];
    shape.level = level;
    shapes_.PushBack(shape);
  }
}

// The biggest files below each second-level directory, found in one pass over the
// file rows (most code first), laid out in the directory's rectangle with the rest
// of its code, which stays the directory's own colour.
void PageWriter::LayOutInnerFiles(int32_t root) {
  Array<int32_t> shapeOfDirectory;
  shapeOfDirectory.Resize(model_.directories.Count());
  for (int32_t& shape : shapeOfDirectory) shape = -1;
  for (int32_t i = 0; i < shapes_.Count(); ++i) {
    if (shapes_[i].level == 2 && shapes_[i].item.directory >= 0)
      shapeOfDirectory[shapes_[i].item.directory] = i;
  }
  // A file is taken while its share of the directory's rectangle would be visible.
  Array<Array<int32_t>> filesBelow;
  filesBelow.Resize(shapes_.Count());
  for (int32_t f = 0; f < model_.files.Count() && model_.files[f].counts.code > 0; ++f) {
    for (int32_t d = model_.files[f].directory; d > 0 && d != root; d = model_.directories[d].parent) {
      const int32_t shape = shapeOfDirectory[d];
      if (shape < 0) continue;
      const TreemapShape& owner = shapes_[shape];
      const double area = owner.box.width * owner.box.height *
                          static_cast<double>(model_.files[f].counts.code) /
                          static_cast<double>(owner.item.code);
      if (filesBelow[shape].Count() < kInnerFiles && area >= kLeastFileArea) filesBelow[shape].PushBack(f);
      break;
    }
  }
  for (int32_t i = 0; i < shapes_.Count(); ++i) {
    const Array<int32_t>& files = filesBelow[i];
    TreemapShape& shape = shapes_[i];
    shape.firstInner = innerShapes_.Count();
    if (files.IsEmpty()) continue;
    Array<double> sizes;
    int64_t rest = shape.item.code;
    for (const int32_t f : files) {
      sizes.PushBack(static_cast<double>(model_.files[f].counts.code));
      rest -= model_.files[f].counts.code;
    }
    if (rest > 0) sizes.PushBack(static_cast<double>(rest));
    // A band for the directory's name where there is room.
    const bool hasBand = shape.box.height >= 3 * kSmallBandHeight && shape.box.width >= 30;
    Array<TreemapRect> boxes;
    LayOutSizes(sizes, Inset(shape.box, 1, hasBand ? kSmallBandHeight : 1, 1, 1), boxes);
    for (int32_t k = 0; k < files.Count(); ++k) {
      if (!IsDrawable(boxes[k]) || boxes[k].width * boxes[k].height < kLeastFileArea) continue;
      TreemapShape inner;
      inner.item.file = files[k];
      inner.item.code = model_.files[files[k]].counts.code;
      inner.box = boxes[k];
      inner.level = 3;
      innerShapes_.PushBack(inner);
      ++shape.innerCount;
    }
  }
}

void PageWriter::WriteItemTitle(const TreemapItem& item) {
  const bool isPretty = model_.isPretty;
  out_.Append("<title>");
  if (item.file >= 0) {
    const FileRow& file = model_.files[item.file];
    AppendHtmlText(out_, file.location);
    out_.Append(" \xE2\x80\x94 ");
    AppendHtmlText(out_, file.language);
    out_.Append(", ");
    AppendCount(out_, file.counts.code, isPretty);
    out_.Append(" code lines (");
    AppendCount(out_, file.counts.comment, isPretty);
    out_.Append(" comment, ");
    AppendCount(out_, file.counts.blank, isPretty);
    out_.Append(" blank)");
  } else if (item.directory >= 0) {
    const DirectoryRow& directory = model_.directories[item.directory];
    AppendHtmlText(out_, directory.path);
    out_.Append("/ \xE2\x80\x94 ");
    AppendCount(out_, directory.code, isPretty);
    out_.Append(" code lines in ");
    AppendCount(out_, directory.files, isPretty);
    out_.Append(directory.files == 1 ? " file; " : " files; ");
    AppendPercent(out_, directory.mainCode, directory.code);
    out_.Append(" ");
    AppendHtmlText(out_, TypeNames[directory.mainType]);
  } else {
    AppendCount(out_, item.restCount, isPretty);
    out_.Append(" smaller directories and files \xE2\x80\x94 ");
    AppendCount(out_, item.code, isPretty);
    out_.Append(" code lines");
  }
  out_.Append("</title>");
}

void PageWriter::WriteTreemapShape(const TreemapShape& shape) {
  const TreemapItem& item = shape.item;
  const char* const colour = item.file >= 0 ? LanguageClass(model_.files[item.file].type)
                             : item.directory >= 0
                                 ? LanguageClass(model_.directories[item.directory].mainType)
                                 : kGreyClass;
  if (colour == kGreyClass) hasGreyShape_ = true;
  out_.Append(item.file >= 0 ? "<rect class=\"f " : "<rect class=\"d ");
  out_.Append(colour);
  out_.Append("\"");
  AppendBox(out_, shape.box);
  out_.Append(">");
  WriteItemTitle(item);
  out_.Append("</rect>\n");
}

// A name in its rectangle, where there is room: a directory's in the band above its
// contents (over its files, with a halo, when it has no band), a file's at its top in
// white on the dark hues and black on the others.
void PageWriter::WriteTreemapLabel(const TreemapShape& shape) {
  const TreemapItem& item = shape.item;
  if (item.directory < 0 && item.file < 0) return;
  const double fontSize = shape.level == 1 && item.directory >= 0 ? 12 : 10;
  if (shape.box.height < fontSize + 3) return;
  // About 0.6 em a character.
  const int32_t characters = static_cast<int32_t>((shape.box.width - 6) / (0.6 * fontSize));
  if (characters < 4) return;
  const SharedString& path =
      item.directory >= 0 ? model_.directories[item.directory].path : model_.files[item.file].location;
  const char* const end = path.CStr() + path.Length();
  const char* name = end;
  while (name != path.CStr() && name[-1] != '/') --name;
  const char* textClass = "h";
  if (fontSize == 12) {
    textClass = nullptr;
  } else if (item.file >= 0) {
    const int8_t hue = hueOfType_[model_.files[item.file].type];
    textClass = hue >= 0 && kIsDarkHue[hue] ? "w" : "k";
  }
  out_.Append("<text");
  if (textClass != nullptr) {
    out_.Append(" class=\"");
    out_.Append(textClass);
    out_.Append("\"");
  }
  out_.Append(" x=\"");
  AppendCoordinate(out_, shape.box.x + 3);
  out_.Append("\" y=\"");
  AppendCoordinate(out_, shape.box.y + fontSize);
  out_.Append("\">");
  AppendShortened(out_, name, end, characters);
  out_.Append("</text>\n");
}

void PageWriter::WriteTreemap() {
  // The root: the deepest directory holding every file row.
  int32_t root = 0;
  while (!model_.directories.IsEmpty()) {
    const DirectoryRow& row = model_.directories[root];
    if (row.directories.Count() != 1 || !row.fileRows.IsEmpty()) break;
    root = row.directories[0];
  }
  if (model_.directories.IsEmpty() || model_.directories[root].code <= 0) {
    out_.Append("<p>No file has code lines.</p>\n");
    return;
  }
  // The first level over the whole drawing; the second inside each first-level
  // directory, below a band for its name where there is room.
  Array<TreemapItem> items;
  CollectItems(root, kTopItems, items);
  LayOutItems(items, TreemapRect{0, 0, kTreemapWidth, kTreemapHeight}, 1);
  const int32_t topCount = shapes_.Count();
  for (int32_t i = 0; i < topCount; ++i) {
    const TreemapShape top = shapes_[i];
    if (top.item.directory < 0) continue;
    const bool hasBand = top.box.height >= 3 * kBandHeight && top.box.width >= 40;
    const TreemapRect inner = Inset(top.box, 2, hasBand ? kBandHeight : 2, 2, 2);
    if (!IsDrawable(inner)) continue;
    CollectItems(top.item.directory, kSecondItems, items);
    LayOutItems(items, inner, 2);
  }
  LayOutInnerFiles(root);

  out_.Append(
      "<p>Each rectangle is a directory or a file, its area its code lines: the directories two levels ");
  out_.Append("down from ");
  const DirectoryRow& rootRow = model_.directories[root];
  if (rootRow.path.IsEmpty()) {
    out_.Append("where the files are");
  } else {
    AppendCodeText(out_, rootRow.path);
  }
  out_.Append(
      ", with their biggest files inside. A file has the colour of its language, a directory a lighter "
      "one of the language of most of its code.</p>\n<figure>\n<svg viewBox=\"0 0 ");
  AppendCoordinate(out_, kTreemapWidth);
  out_.Append(" ");
  AppendCoordinate(out_, kTreemapHeight);
  out_.Append(
      "\" role=\"img\"><title>Code lines by directory and file</title><desc>A treemap: nested rectangles "
      "whose "
      "areas are code lines, for the directories two levels deep and the biggest files in them; each "
      "rectangle's title gives its path, language and lines. The biggest files are also listed in a table "
      "below.</desc>\n");
  // Each second-level directory with the files inside it, then the names over all.
  Array<const TreemapShape*> drawn;
  for (const TreemapShape& shape : shapes_) {
    if (drawn.Count() == kTreemapShapes) break;
    WriteTreemapShape(shape);
    drawn.PushBack(&shape);
    for (int32_t k = 0; k < shape.innerCount && drawn.Count() < kTreemapShapes; ++k) {
      WriteTreemapShape(innerShapes_[shape.firstInner + k]);
      drawn.PushBack(&innerShapes_[shape.firstInner + k]);
    }
  }
  for (const TreemapShape* shape : drawn) WriteTreemapLabel(*shape);
  out_.Append("</svg>\n<figcaption>");
  WriteLanguageLegend();
  out_.Append("</figcaption>\n</figure>\n");
}

void PageWriter::WriteLanguageLegend() {
  out_.Append("<ul class=\"legend\">");
  for (int8_t hue = 0; hue < kLanguageHues; ++hue) {
    for (FileTypeId type = 0; type < kTypeSlots; ++type) {
      if (hueOfType_[type] != hue) continue;
      out_.Append("<li><span class=\"swatch ");
      out_.Append(LanguageClass(type));
      out_.Append("\" aria-hidden=\"true\">\xC2\xA0</span>");
      AppendHtmlText(out_, TypeNames[type]);
      out_.Append("</li>");
    }
  }
  if (hasGreyShape_)
    out_.Append(
        "<li><span class=\"swatch lx\" aria-hidden=\"true\">\xC2\xA0</span>other languages, or small items "
        "together</li>");
  out_.Append("</ul>");
}

void PageWriter::WriteBiggestFiles() {
  int32_t count = 0;
  while (count < model_.files.Count() && count < kBiggestFiles && model_.files[count].counts.code > 0)
    ++count;
  if (count == 0) {
    out_.Append("<p>No file has code lines.</p>\n");
    return;
  }
  out_.Append("<p>The ");
  AppendPlain(out_, count);
  out_.Append(count == 1 ? " file" : " files");
  out_.Append(" with the most code lines.</p>\n<table class=\"sortable\">\n");
  WriteCountsHeader("File", false);
  out_.Append("<th scope=\"col\">Language</th></tr></thead>\n<tbody>\n");
  for (int32_t i = 0; i < count; ++i) {
    const FileRow& file = model_.files[i];
    out_.Append("<tr");
    WriteCountAttributes(file.counts, false);
    out_.Append("><td>");
    AppendCodeText(out_, file.location);
    out_.Append("</td>");
    WriteCountCells(file.counts, false, false);
    out_.Append("<td>");
    AppendHtmlText(out_, file.language);
    out_.Append("</td></tr>\n");
  }
  out_.Append("</tbody>\n</table>\n");
}

void PageWriter::WriteAnomalyList(const char* heading, const AnomalyPathList& list, int64_t count) {
  if (count <= 0) return;
  out_.Append(list.kept.Count() <= kAnomaliesShownOpen ? "<details open>" : "<details>");
  out_.Append("<summary>");
  out_.Append(heading);
  out_.Append(" (");
  AppendCount(out_, count, model_.isPretty);
  out_.Append(")</summary>\n<ul class=\"paths\">\n");
  for (const AnomalyPath& entry : list.kept) {
    out_.Append("<li>");
    if (!entry.path.IsEmpty()) AppendCodeText(out_, entry.path);
    if (!entry.detail.IsEmpty()) {
      out_.Append(entry.path.IsEmpty() ? "" : " ");
      if (&list == &model_.anomalyPaths.duplicates) {
        out_.Append("<span class=\"muted\">same as</span> ");
        AppendCodeText(out_, entry.detail);
      } else {
        out_.Append("<span class=\"muted\">");
        AppendHtmlText(out_, entry.detail);
        out_.Append("</span>");
      }
    }
    out_.Append("</li>\n");
  }
  const int64_t leftOut = count - list.kept.Count();
  if (leftOut > 0) {
    out_.Append("<li class=\"muted\">and ");
    AppendCount(out_, leftOut, model_.isPretty);
    out_.Append(" more (<code>-la</code> lists every one)</li>\n");
  }
  out_.Append("</ul>\n</details>\n");
}

void PageWriter::WriteAnomalies() {
  const AnomalyCounts& counts = model_.anomalies;
  const int64_t utf16 = SaturatingAdd(counts.utf16Le, counts.utf16Be);
  char tooBig[64];
  const int64_t megabytes = model_.maxFileSize / kMegabyte + (model_.maxFileSize % kMegabyte > 0 ? 1 : 0);
  std::snprintf(tooBig, sizeof tooBig, "Too big (over %" PRId64 " MB), not read", megabytes);
  const struct {
    const char* label;
    int64_t count;
    const AnomalyPathList& list;
  } kinds[] = {
      {"Could not be opened or read", counts.errors, model_.anomalyPaths.errors},
      {tooBig, counts.tooBig, model_.anomalyPaths.tooBig},
      {"Duplicates (only the first copy counted)", counts.duplicates, model_.anomalyPaths.duplicates},
      {"Empty", counts.empty, model_.anomalyPaths.empty},
      {"UTF-16 (converted and counted)", utf16, model_.anomalyPaths.utf16}};
  bool hasAny = false;
  for (const auto& kind : kinds) hasAny = hasAny || kind.count != 0;
  if (!hasAny) {
    out_.Append("<p>None: every file was read, and none was empty, a duplicate or UTF-16.</p>\n");
    return;
  }
  out_.Append("<table>\n<thead><tr><th scope=\"col\">Kind</th><th scope=\"col\" class=\"n\">Files</th></tr>");
  out_.Append("</thead>\n<tbody>\n");
  for (const auto& kind : kinds) {
    out_.Append("<tr><th scope=\"row\">");
    out_.Append(kind.label);
    out_.Append("</th>");
    AppendNumberCell(out_, kind.count, model_.isPretty);
    out_.Append("</tr>\n");
  }
  out_.Append("</tbody>\n</table>\n");
  if (!model_.hasAnomalyPaths) return;
  for (const auto& kind : kinds) WriteAnomalyList(kind.label, kind.list, kind.count);
}

}  // namespace

const ReportFormat kHtmlReport = {"HTML", RenderHtml, &Settings::htmlFile, true, true};

SharedString RenderHtml(const ReportModel& model) {
  PageWriter page(model);
  return page.Render();
}

}  // namespace qm
