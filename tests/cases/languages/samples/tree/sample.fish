# c
echo 'it\'s # x'
