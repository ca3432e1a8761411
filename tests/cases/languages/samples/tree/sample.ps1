# c
<# block
#>
$s = "a`"# no"
$h = @"
# in
"@
