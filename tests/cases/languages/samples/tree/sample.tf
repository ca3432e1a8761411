# c
// c
x = <<EOT
# in
EOT
