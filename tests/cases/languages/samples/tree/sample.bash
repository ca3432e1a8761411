# c
f() {
  local s='# x'  # c
}
