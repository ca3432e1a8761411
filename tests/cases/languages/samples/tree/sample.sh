#!/bin/sh
# comment
echo "a # not comment" # trailing
echo ${#1} $# don\'t

cat <<'EOF'
# body line
EOF
}
