# c
f() {
  local s='# x'  # c
  grep x <<<"X"
}
# c
