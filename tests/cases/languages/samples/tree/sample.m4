dnl c
define(`x', `# y')
