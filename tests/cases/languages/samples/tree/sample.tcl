# c
puts "# no" ;# c
