# c
=begin
doc
=end
s = "#{x} # y"
x = <<~EOS
  # body
  EOS
