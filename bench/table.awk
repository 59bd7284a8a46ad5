# Prints tab-separated rows as a table with aligned columns; the first row is the heading.
{
  rows[NR] = $0
  for (i = 1; i <= NF; ++i) if (length($i) > width[i]) width[i] = length($i)
  if (NF > columns) columns = NF
}
END {
  for (r = 1; r <= NR; ++r) {
    n = split(rows[r], field, "\t")
    line = ""
    for (i = 1; i <= n; ++i) line = line sprintf(i < n ? "%-" width[i] "s  " : "%s", field[i])
    print line
    if (r == 1) {
      rule = ""
      for (i = 1; i <= columns; ++i) rule = rule sprintf("%s%s", i > 1 ? "  " : "", dashes(width[i]))
      print rule
    }
  }
}
function dashes(n,   s) { s = ""; while (n-- > 0) s = s "-"; return s }
