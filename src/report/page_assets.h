// The style sheet and script every report page carries inline, so that a page opened
// from the disk needs nothing else: no server, no network, no external file.
#pragma once

namespace bm7::report {

inline constexpr const char* kPageStyle = R"css(
body { font-family: sans-serif; margin: 1.5em; color: #222; background: #fff; }
h1 { font-size: 1.5em; margin: 0 0 .5em; }
h2 { font-size: 1.2em; margin: 1.2em 0 .5em; }
dl.summary { display: grid; grid-template-columns: max-content auto; gap: .2em 1em; margin: 0; }
dl.summary dt { font-weight: bold; }
dl.summary dd { margin: 0; }
nav.pages { margin: 1em 0; }
nav.pages a, nav.pages span { margin-right: .6em; }
.charts { display: flex; flex-wrap: wrap; gap: 1em; }
svg.chart { width: 600px; max-width: 100%; height: auto; border: 1px solid #ddd; }
svg.chart text { font-size: 11px; fill: #222; }
svg.chart text.title { font-size: 14px; font-weight: bold; }
svg.chart text.label { font-size: 12px; }
svg.chart .bar { fill: #4a6fa5; }
svg.chart .bar:hover { fill: #e07b39; }
svg.chart .axis { stroke: #222; stroke-width: 1; }
svg.chart .grid { stroke: #e4e4e4; stroke-width: 1; }
.note { color: #555; }
table { border-collapse: collapse; margin-top: .6em; }
th, td { border-bottom: 1px solid #ddd; padding: .25em .5em; text-align: left; vertical-align: middle; }
th { background: #f2f2f2; cursor: pointer; user-select: none; position: sticky; top: 0; }
th[aria-sort=ascending]::after { content: " \25B2"; }
th[aria-sort=descending]::after { content: " \25BC"; }
td.when { white-space: nowrap; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
td img { height: 96px; display: block; image-rendering: auto; }
audio { width: 240px; }
)css";

// Sorting keeps the browser's stable order for equal keys; numbers that do not parse
// (NaN) go last either way.
inline constexpr const char* kPageScript = R"js(
(function () {
  const table = document.getElementById('detections');
  const body = table.tBodies[0];
  const headers = Array.from(table.tHead.rows[0].cells);
  const shown = document.getElementById('shown');
  function compareNumbers(x, y, direction) {
    const a = parseFloat(x), b = parseFloat(y);
    if (isNaN(a) || isNaN(b)) return (isNaN(a) ? 1 : 0) - (isNaN(b) ? 1 : 0);
    return direction * (a - b);
  }
  headers.forEach(function (header, column) {
    header.tabIndex = 0;
    header.addEventListener('keydown', function (event) {
      if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); header.click(); }
    });
    header.addEventListener('click', function () {
      const ascending = header.getAttribute('aria-sort') !== 'ascending';
      const direction = ascending ? 1 : -1;
      const numeric = header.dataset.type === 'number';
      const rows = Array.from(body.rows);
      rows.sort(function (a, b) {
        const x = a.cells[column].dataset.sort, y = b.cells[column].dataset.sort;
        return numeric ? compareNumbers(x, y, direction) : direction * x.localeCompare(y);
      });
      body.append.apply(body, rows);
      headers.forEach(function (other) { other.removeAttribute('aria-sort'); });
      header.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
    });
  });
  function countShown() {
    const visible = Array.from(body.rows).filter(function (row) { return !row.hidden; });
    shown.textContent = visible.length + ' of ' + body.rows.length + ' rows shown';
  }
  const filter = document.getElementById('filter');
  filter.addEventListener('input', function () {
    const wanted = filter.value.toLowerCase();
    Array.from(body.rows).forEach(function (row) {
      row.hidden = !row.dataset.file.toLowerCase().includes(wanted);
    });
    countShown();
  });
  countShown();
})();
)js";

}  // namespace bm7::report
